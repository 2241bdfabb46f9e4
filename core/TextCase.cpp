// Text compared without regard to case for the core's form on POSIX systems, by the C
// library's rules for the process's locale, which fold more than ASCII in a UTF-8 one (the
// locale a host application sets up).
#include "propertypage/Controls.h"

#include <cwctype>
#include <string>

namespace crv::controls {

namespace {

// The text's code points folded to capitals; a byte that does not decode stands for itself.
std::u32string Folded(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t c = lead;
        bool whole = length != 0 && i + length <= text.size();
        if (whole && length > 1) {
            c = lead & (0x7F >> length);
            for (size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                whole = whole && (next & 0xC0) == 0x80;
                c = (c << 6) | (next & 0x3F);
            }
        }
        if (!whole) {
            out.push_back(lead);
            ++i;
            continue;
        }
        out.push_back(static_cast<char32_t>(std::towupper(static_cast<std::wint_t>(c))));
        i += length;
    }
    return out;
}

}  // namespace

bool SameTextIgnoringCase(const std::string& a, const std::string& b) { return Folded(a) == Folded(b); }

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    return Folded(text).find(Folded(part)) != std::u32string::npos;
}

}  // namespace crv::controls
