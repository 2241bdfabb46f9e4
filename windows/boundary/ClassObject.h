#pragma once
// A class object as the platform asks a server for one: it makes our object and hands out its
// COM-callable wrapper. For a library's DllGetClassObject and for a program that offers its
// classes to the process (CoRegisterClassObject).

#include "com/Unknown.h"

#include <windows.h>
#include <objbase.h>

#include <functional>

namespace crv::win {

// A counted class object; errors of the maker reach the caller as error objects.
IClassFactory* NewClassObject(const Guid& clsid, std::function<ComPtr<Unknown>()> maker);

// Class objects and server locks alive, for a library's unload check.
int64_t LiveClassObjects();

}  // namespace crv::win
