#pragma once
// Where a registration writes: the machine's classes or the current user's, never the merged
// view, whose keys belong to the user where the user has any.

namespace crv::win {

inline constexpr const char* kMachineClasses = "HKEY_LOCAL_MACHINE\\Software\\Classes";
inline constexpr const char* kUserClasses = "HKEY_CURRENT_USER\\Software\\Classes";

}  // namespace crv::win
