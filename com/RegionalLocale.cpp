// The regional settings of a POSIX locale, read with the C library's locale queries.
#include "com/Regional.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <limits>
#include <locale.h>

namespace crv {

namespace {

// Separators must be UTF-8 whatever the locale's own character set is.
std::string ToUtf8(const char* text, const char* codeset) {
    std::string in = text != nullptr ? text : "";
    bool ascii = true;
    for (const char c : in) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0) return in;

    iconv_t cd = iconv_open("UTF-8", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(in.size() * 4 + 4, '\0');
    char* src = in.data();
    size_t src_left = in.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    const size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - dst_left);
    return out;
}

// POSIX grouping bytes: each a group size from the right, CHAR_MAX (or a negative byte)
// stops grouping, the terminating NUL repeats the last size.
std::vector<int> GroupingFromBytes(const char* bytes) {
    std::vector<int> sizes;
    if (bytes == nullptr) return sizes;
    for (const char* p = bytes; *p != '\0'; ++p) {
        const int size = static_cast<int>(*p);
        if (size == CHAR_MAX || size <= 0) {
            // A group too wide to ever fill reproduces "no further grouping" under the
            // rule that the last size repeats.
            if (!sizes.empty()) sizes.push_back(std::numeric_limits<int>::max());
            break;
        }
        sizes.push_back(size);
    }
    return sizes;
}

// The locale the environment names for numbers: LC_ALL, else LC_NUMERIC, else LANG. The other
// categories do not matter here, so a broken LC_TIME cannot take the number format with it.
std::string NumericLocaleOfEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return "C";
}

}  // namespace

std::optional<RegionalSettings> RegionalSettings::FromLocale(const std::string& name) {
    // The character type category of the same locale says how its separators are encoded.
    const std::string numeric = name.empty() ? NumericLocaleOfEnvironment() : name;
    locale_t loc = newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, numeric.c_str(), static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return std::nullopt;

    const char* codeset = nl_langinfo_l(CODESET, loc);
    RegionalSettings rs;
    rs.decimal_separator = ToUtf8(nl_langinfo_l(RADIXCHAR, loc), codeset);
    rs.group_separator = ToUtf8(nl_langinfo_l(THOUSEP, loc), codeset);
    rs.grouping = GroupingFromBytes(nl_langinfo_l(GROUPING, loc));
    freelocale(loc);

    // assign(1, c) rather than a literal: avoids a false -Wrestrict from GCC 12 at -O2.
    if (rs.decimal_separator.empty()) rs.decimal_separator.assign(1, '.');
    if (rs.group_separator.empty()) rs.grouping.clear();
    rs.leading_zero = true;
    rs.negative = NegativeStyle::Minus;
    return rs;
}

}  // namespace crv
