// Text compared without regard to case by the platform's own rules, for every form backend on
// Windows: its own controls' and the core's, whose controls are a host's.
#include "propertypage/Controls.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <string>

namespace crv::controls {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    const std::wstring x = win::Wide(a);
    const std::wstring y = win::Wide(b);
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
}

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    std::wstring t = win::Wide(text);
    std::wstring p = win::Wide(part);
    CharUpperBuffW(t.data(), static_cast<DWORD>(t.size()));
    CharUpperBuffW(p.data(), static_cast<DWORD>(p.size()));
    return t.find(p) != std::wstring::npos;
}

}  // namespace crv::controls
