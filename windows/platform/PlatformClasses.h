#pragma once
// The host classes the platform itself provides when no host registers its own: an identifier
// value, and a category registrar over the platform's component category manager. With them
// the library installs its page into a category from a script or an installer, with no host
// running.

#include "com/Unknown.h"

namespace crv::win {

// A new object of one of those classes, or nothing for any other class id.
ComPtr<Unknown> NewPlatformObject(const Guid& clsid);

}  // namespace crv::win
