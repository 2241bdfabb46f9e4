#pragma once
// Text between the component (UTF-8) and the platform's wide-character calls (UTF-16).

#include <string>
#include <string_view>

namespace crv::win {

std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);
// The platform's description of a system error code, without its line break.
std::string SystemMessage(unsigned long code);

}  // namespace crv::win
