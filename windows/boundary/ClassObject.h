#pragma once
// The class objects an in-process server hands out from DllGetClassObject: each instance made by
// the class's maker and given out through its COM-callable wrapper. Shared by the component and
// by the standalone host's server.

#include "com/Unknown.h"

#include <windows.h>

#include <functional>

namespace crv::win {

using ObjectMaker = std::function<ComPtr<Unknown>()>;

// A counted pointer to interface iid of a new class object of class clsid in *out.
HRESULT GetClassObject(const Guid& clsid, ObjectMaker maker, REFIID iid, void** out);

// Class objects alive or a server lock held: the library must stay loaded.
bool ClassObjectsInUse();

}  // namespace crv::win
