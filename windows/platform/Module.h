#pragma once
// The file of the module (library or program) that holds a piece of code, however long its path.

#include <optional>
#include <string>

namespace crv::win {

// Nothing when the platform cannot tell.
std::optional<std::wstring> ModuleFileOf(const void* address);

}  // namespace crv::win
