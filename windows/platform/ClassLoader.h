#pragma once
// Classes of other modules. The runtime creates a class that no code of its module registered
// through the platform's object runtime, and uses the object through a proxy, which only the COM
// boundary makes; the boundary is built on the runtime, so it installs its way as its module
// starts (windows/boundary/Activation.cpp). A module without the boundary is refused such a
// class with the reason, never told that the class is not registered: the engine would take
// that for a companion that is not installed.

#include "com/Unknown.h"

namespace crv::win {

// A counted pointer to interface iid of a new object of class clsid, from another module or the
// platform; raises ComError as ClassTable::CreateInstance does.
using ForeignClassMaker = void* (*)(const Guid& clsid, const Guid& iid);
void InstallForeignClassMaker(ForeignClassMaker maker);

}  // namespace crv::win
