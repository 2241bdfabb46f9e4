// The regional settings of a platform locale: the user's own ("") or a locale name such as
// "de-DE".
#include "com/Regional.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <algorithm>
#include <limits>

namespace crv {

namespace {

std::optional<std::wstring> LocaleText(const wchar_t* locale, LCTYPE what) {
    wchar_t buffer[16] = {};
    if (GetLocaleInfoEx(locale, what, buffer, 16) == 0) return std::nullopt;
    return std::wstring(buffer);
}

// "3;0" is 1,234,567 and "3;2;0" is 12,34,567: sizes from the right, a final 0 repeating the
// last; without the final 0 the last size is used once and no further grouping follows.
std::vector<int> Grouping(const std::wstring& text) {
    std::vector<int> sizes;
    bool repeats = false;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(L';', start), text.size());
        const int size = std::stoi(std::wstring(text.substr(start, end - start)).insert(0, L"0"));
        if (size == 0) {
            repeats = true;
            break;
        }
        sizes.push_back(size);
        start = end + 1;
    }
    if (!sizes.empty() && !repeats) sizes.push_back(std::numeric_limits<int>::max());
    return sizes;
}

}  // namespace

std::optional<RegionalSettings> RegionalSettings::FromLocale(const std::string& name) {
    const std::wstring wide = win::Wide(name);
    const wchar_t* locale = name.empty() ? LOCALE_NAME_USER_DEFAULT : wide.c_str();
    const auto decimal = LocaleText(locale, LOCALE_SDECIMAL);
    const auto group = LocaleText(locale, LOCALE_STHOUSAND);
    const auto grouping = LocaleText(locale, LOCALE_SGROUPING);
    const auto zero = LocaleText(locale, LOCALE_ILZERO);
    const auto negative = LocaleText(locale, LOCALE_INEGNUMBER);
    if (!decimal || !group || !grouping) return std::nullopt;
    RegionalSettings rs;
    rs.decimal_separator = win::Narrow(*decimal);
    rs.group_separator = win::Narrow(*group);
    rs.grouping = Grouping(*grouping);
    if (rs.decimal_separator.empty()) rs.decimal_separator.assign(1, '.');
    if (rs.group_separator.empty()) rs.grouping.clear();
    rs.leading_zero = !zero || *zero != L"0";
    rs.negative = negative && *negative == L"0" ? NegativeStyle::Parentheses : NegativeStyle::Minus;
    return rs;
}

}  // namespace crv
