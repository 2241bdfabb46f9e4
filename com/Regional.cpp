#include "com/Regional.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>

namespace crv {

namespace {

// ---------------------------------------------------------------------------------------
// The settings in use

struct SharedSettings {
    std::mutex mutex;
    std::optional<RegionalSettings> settings;  // empty until first use
    std::atomic<uint64_t> generation{0};  // 0: not yet initialised
};

SharedSettings& Shared() {
    static SharedSettings shared;
    return shared;
}

// Current() hands out a reference; each thread reads its own copy so that a SetCurrent
// elsewhere never changes the object under a reader's feet.
struct ThreadCopy {
    uint64_t generation = 0;
    RegionalSettings settings;
};
thread_local ThreadCopy t_copy;

// ---------------------------------------------------------------------------------------
// Number scanning

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Enough significant digits to round any decimal text to the nearest double correctly
// (the worst halfway case needs 767); the rest are summarised by one sticky digit.
constexpr size_t kMaxDigits = 800;
constexpr int64_t kExponentCap = 1'000'000'000;

enum class ScanStatus { NotNumeric, Numeric };

struct Scan {
    ScanStatus status = ScanStatus::NotNumeric;
    bool negative = false;
    // value = digits * 10^scale; digits has no leading zeros (empty for zero).
    char digits[kMaxDigits + 1];
    size_t count = 0;
    int64_t scale = 0;
};

bool StartsWith(std::string_view text, size_t pos, std::string_view prefix) {
    return !prefix.empty() && text.size() - pos >= prefix.size() && text.compare(pos, prefix.size(), prefix) == 0;
}

constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
constexpr std::string_view kNarrowNoBreakSpace = "\xE2\x80\xAF";

// Length of a group separator at pos, 0 when there is none. Where the locale separates
// groups with a no-break space, users type a plain space (or the other no-break space).
size_t GroupSeparatorAt(std::string_view text, size_t pos, std::string_view sep, bool space_like) {
    if (StartsWith(text, pos, sep)) return sep.size();
    if (space_like) {
        if (pos < text.size() && text[pos] == ' ') return 1;
        if (StartsWith(text, pos, kNoBreakSpace)) return kNoBreakSpace.size();
        if (StartsWith(text, pos, kNarrowNoBreakSpace)) return kNarrowNoBreakSpace.size();
    }
    return 0;
}

// The free form a user types takes blanks around the number, parentheses for a negative one
// and group separators; the plain form takes none of them.
enum class Form { Free, Plain };

void ScanText(std::string_view text, const RegionalSettings& rs, Scan& out, Form form = Form::Free) {
    const bool free = form == Form::Free;
    size_t begin = 0;
    size_t end = text.size();
    while (free && begin < end && IsBlank(text[begin])) ++begin;
    while (free && end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return;

    if (free && text[begin] == '(') {
        if (text[end - 1] != ')') return;
        out.negative = true;
        ++begin;
        --end;
        while (begin < end && IsBlank(text[begin])) ++begin;
        while (end > begin && IsBlank(text[end - 1])) --end;
    } else if (text[begin] == '-' || text[begin] == '+') {
        out.negative = text[begin] == '-';
        ++begin;
    }
    const std::string_view body = text.substr(begin, end - begin);

    const std::string_view dec = rs.decimal_separator;
    const std::string_view group = rs.group_separator;
    const bool space_like = group == " " || group == kNoBreakSpace || group == kNarrowNoBreakSpace;

    bool sticky = false;  // a nonzero digit was dropped beyond kMaxDigits
    bool any_digit = false;
    auto take_digit = [&](char c, bool fraction) {
        any_digit = true;
        if (out.count == 0 && c == '0') {
            if (fraction) --out.scale;
            return;
        }
        if (out.count < kMaxDigits) {
            out.digits[out.count++] = c;
            if (fraction) --out.scale;
        } else {
            if (!fraction) ++out.scale;
            sticky = sticky || c != '0';
        }
    };

    size_t pos = 0;
    const size_t n = body.size();
    // Integer part; a group separator only ever sits between two digits.
    while (pos < n) {
        if (IsDigit(body[pos])) {
            take_digit(body[pos], false);
            ++pos;
            continue;
        }
        // Checked first, so that settings with equal separators read it as decimal.
        if (StartsWith(body, pos, dec)) break;
        if (free && pos > 0 && IsDigit(body[pos - 1])) {
            const size_t len = GroupSeparatorAt(body, pos, group, space_like);
            if (len > 0 && pos + len < n && IsDigit(body[pos + len])) {
                pos += len;
                continue;
            }
        }
        break;
    }
    if (StartsWith(body, pos, dec)) {
        pos += dec.size();
        while (pos < n && IsDigit(body[pos])) {
            take_digit(body[pos], true);
            ++pos;
        }
    }
    if (!any_digit) return;

    if (pos < n && (body[pos] == 'e' || body[pos] == 'E')) {
        ++pos;
        bool exp_negative = false;
        if (pos < n && (body[pos] == '+' || body[pos] == '-')) {
            exp_negative = body[pos] == '-';
            ++pos;
        }
        if (pos == n || !IsDigit(body[pos])) return;
        int64_t exponent = 0;
        while (pos < n && IsDigit(body[pos])) {
            if (exponent < kExponentCap) exponent = exponent * 10 + (body[pos] - '0');
            ++pos;
        }
        out.scale += exp_negative ? -exponent : exponent;
    }
    if (pos != n) return;

    if (sticky) {
        out.digits[out.count++] = '1';
        --out.scale;
    }
    out.status = ScanStatus::Numeric;
}

enum class Conversion { Value, Overflow };

Conversion ToDouble(const Scan& scan, double& value) {
    value = 0.0;
    if (scan.count == 0) return Conversion::Value;
    // The value lies in [10^(magnitude-1), 10^magnitude).
    const int64_t magnitude = static_cast<int64_t>(scan.count) + scan.scale;
    if (magnitude > 310) return Conversion::Overflow;
    if (magnitude < -400) return Conversion::Value;  // underflows to zero

    char buffer[kMaxDigits + 1 + 32];
    std::memcpy(buffer, scan.digits, scan.count);
    char* p = buffer + scan.count;
    *p++ = 'e';
    const auto exp = std::to_chars(p, buffer + sizeof buffer, scan.scale);
    double parsed = 0.0;
    const auto result = std::from_chars(buffer, exp.ptr, parsed);
    if (result.ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return Conversion::Overflow;
        return Conversion::Value;
    }
    if (result.ec != std::errc() || std::isinf(parsed)) return Conversion::Overflow;
    value = scan.negative ? -parsed : parsed;
    return Conversion::Value;
}

// ---------------------------------------------------------------------------------------
// Formatting

// The decimal digits of |value| (no leading zeros) and the power of ten of the first one.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

// precision < 0: the shortest digits that read back as the same double.
Decimal Decompose(double value, int precision) {
    char buffer[64];
    const double magnitude = std::fabs(value);
    const auto result =
        precision < 0
            ? std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific)
            : std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, precision);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    Decimal d;
    const size_t e = text.find('e');
    for (size_t i = 0; i < e; ++i) {
        if (IsDigit(text[i])) d.digits.push_back(text[i]);
    }
    int exponent = 0;
    const char* first = text.data() + e + 1;
    if (*first == '+') ++first;
    std::from_chars(first, text.data() + text.size(), exponent);
    d.exponent = exponent;
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

std::string NonFinite(double value) {
    if (std::isnan(value)) return "NaN";
    return value < 0 ? "-Infinity" : "Infinity";
}

void AppendExponent(std::string& out, int exponent) {
    out.push_back('E');
    out.push_back(exponent < 0 ? '-' : '+');
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out.push_back('0');
    out += std::to_string(magnitude);
}

// The integer digits with group separators inserted from the right.
std::string Group(std::string_view digits, const RegionalSettings& rs) {
    if (rs.grouping.empty() || rs.group_separator.empty()) return std::string(digits);
    // Separator positions, counted from the right.
    std::vector<size_t> cuts;
    size_t covered = 0;
    size_t index = 0;
    while (true) {
        const int size = rs.grouping[index];
        if (size <= 0) break;
        const size_t width = static_cast<size_t>(size);
        if (width >= digits.size() - covered) break;
        covered += width;
        cuts.push_back(covered);
        if (index + 1 < rs.grouping.size()) ++index;
    }
    std::string out;
    out.reserve(digits.size() + cuts.size() * rs.group_separator.size());
    size_t next_cut = cuts.size();
    for (size_t i = 0; i < digits.size(); ++i) {
        const size_t from_right = digits.size() - i;
        if (next_cut > 0 && cuts[next_cut - 1] == from_right) {
            out += rs.group_separator;
            --next_cut;
        }
        out.push_back(digits[i]);
    }
    return out;
}

}  // namespace

const RegionalSettings& RegionalSettings::Current() {
    SharedSettings& shared = Shared();
    const uint64_t generation = shared.generation.load(std::memory_order_acquire);
    if (generation == 0 || generation != t_copy.generation) {
        std::lock_guard lock(shared.mutex);
        if (!shared.settings) {
            shared.settings = FromLocale("").value_or(Invariant());
            shared.generation.store(1, std::memory_order_release);
        }
        t_copy.settings = *shared.settings;
        t_copy.generation = shared.generation.load(std::memory_order_relaxed);
    }
    return t_copy.settings;
}

void RegionalSettings::SetCurrent(const RegionalSettings& settings) {
    SharedSettings& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.settings = settings;
    shared.generation.store(shared.generation.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

ScopedRegionalSettings::ScopedRegionalSettings(const RegionalSettings& settings)
    : previous_(RegionalSettings::Current()) {
    RegionalSettings::SetCurrent(settings);
}

ScopedRegionalSettings::~ScopedRegionalSettings() { RegionalSettings::SetCurrent(previous_); }

std::optional<double> ParseNumber(std::string_view text, const RegionalSettings& rs) {
    Scan scan;
    ScanText(text, rs, scan);
    if (scan.status != ScanStatus::Numeric) return std::nullopt;
    double value = 0.0;
    if (ToDouble(scan, value) == Conversion::Overflow) return std::nullopt;
    return value;
}

// The form of a number, whatever its size: a numeric text too large for a double is still
// numeric, and converting it overflows rather than mismatching.
bool IsNumeric(std::string_view text, const RegionalSettings& rs) {
    Scan scan;
    ScanText(text, rs, scan);
    return scan.status == ScanStatus::Numeric;
}

bool IsPlainNumber(std::string_view text, const RegionalSettings& rs) {
    Scan scan;
    ScanText(text, rs, scan, Form::Plain);
    return scan.status == ScanStatus::Numeric;
}

std::optional<int64_t> RoundPlainNumber(std::string_view text, const RegionalSettings& rs) {
    Scan scan;
    ScanText(text, rs, scan, Form::Plain);
    if (scan.status != ScanStatus::Numeric) return std::nullopt;
    if (scan.count == 0) return 0;
    // The value is digits * 10^scale: `whole` digits before the point (none or fewer when negative).
    const int64_t whole = static_cast<int64_t>(scan.count) + scan.scale;
    if (whole > 18) return std::nullopt;
    int64_t n = 0;
    for (int64_t i = 0; i < whole; ++i) n = n * 10 + (i < static_cast<int64_t>(scan.count) ? scan.digits[i] - '0' : 0);
    // The fraction against a half: its first digit, then whether any digit after it is not 0
    // (the digits have no leading zeros, so a fraction below 0.1 starts with a written 0).
    int first = 0;
    bool more = false;
    if (whole >= 0 && whole < static_cast<int64_t>(scan.count)) {
        const auto at = static_cast<size_t>(whole);
        first = scan.digits[at] - '0';
        for (size_t i = at + 1; i < scan.count && !more; ++i) more = scan.digits[i] != '0';
    }
    if (first > 5 || (first == 5 && (more || n % 2 == 1))) ++n;
    return scan.negative ? -n : n;
}

std::string FormatGeneral(double value, const RegionalSettings& rs) {
    if (!std::isfinite(value)) return NonFinite(value);
    if (value == 0.0) return "0";

    const Decimal d = Decompose(value, 14);
    std::string out;
    if (value < 0) out.push_back('-');
    if (d.exponent >= -5 && d.exponent < 15) {
        if (d.exponent < 0) {
            out += '0';
            out += rs.decimal_separator;
            out.append(static_cast<size_t>(-d.exponent - 1), '0');
            out += d.digits;
        } else {
            const size_t int_len = static_cast<size_t>(d.exponent) + 1;
            if (d.digits.size() <= int_len) {
                out += d.digits;
                out.append(int_len - d.digits.size(), '0');
            } else {
                out.append(d.digits, 0, int_len);
                out += rs.decimal_separator;
                out.append(d.digits, int_len);
            }
        }
    } else {
        out.push_back(d.digits[0]);
        if (d.digits.size() > 1) {
            out += rs.decimal_separator;
            out.append(d.digits, 1);
        }
        AppendExponent(out, d.exponent);
    }
    return out;
}

std::string FormatFixed(double value, int decimals, const RegionalSettings& rs) {
    if (!std::isfinite(value)) return NonFinite(value);
    const size_t places = decimals > 0 ? static_cast<size_t>(decimals) : 0;

    // Round the value's own decimal digits, not its binary expansion, so that 1.005 and
    // 2.675 round up as written.
    std::string units;  // |value| * 10^places, rounded, as decimal digits
    if (value != 0.0) {
        const Decimal d = Decompose(value, -1);
        const int64_t keep = static_cast<int64_t>(d.exponent) + 1 + static_cast<int64_t>(places);
        if (keep >= static_cast<int64_t>(d.digits.size())) {
            units = d.digits;
            units.append(static_cast<size_t>(keep) - d.digits.size(), '0');
        } else if (keep >= 0) {
            const size_t k = static_cast<size_t>(keep);
            units.assign(d.digits, 0, k);
            if (d.digits[k] >= '5') {
                size_t i = units.size();
                while (i > 0 && units[i - 1] == '9') units[--i] = '0';
                if (i == 0) {
                    units.insert(units.begin(), '1');
                } else {
                    ++units[i - 1];
                }
            }
        }
    }
    const bool zero = units.find_first_not_of('0') == std::string::npos;
    if (units.size() < places + 1) units.insert(0, places + 1 - units.size(), '0');

    const std::string_view all(units);
    const std::string_view int_digits = all.substr(0, all.size() - places);
    std::string body;
    if (!(places > 0 && !rs.leading_zero && int_digits == "0")) body = Group(int_digits, rs);
    if (places > 0) {
        body += rs.decimal_separator;
        body += all.substr(all.size() - places);
    }

    if (zero || !(value < 0)) return body;
    if (rs.negative == RegionalSettings::NegativeStyle::Parentheses) return "(" + body + ")";
    return "-" + body;
}

}  // namespace crv
