#pragma once
// The class objects a server hands out, from DllGetClassObject or to CoRegisterClassObject: each
// instance made by the class's maker and given out through its COM-callable wrapper. Shared by
// the component, the standalone host's server and a program that offers its classes.

#include "com/Unknown.h"

#include <windows.h>
#include <objbase.h>

#include <functional>

namespace crv::win {

using ObjectMaker = std::function<ComPtr<Unknown>()>;

// A counted pointer to interface iid of a new class object of class clsid in *out.
HRESULT GetClassObject(const Guid& clsid, ObjectMaker maker, REFIID iid, void** out);

// A counted new class object, for a program that offers its classes to the process.
IClassFactory* NewClassObject(const Guid& clsid, ObjectMaker maker);

// Class objects alive or a server lock held: the library must stay loaded.
bool ClassObjectsInUse();

}  // namespace crv::win
