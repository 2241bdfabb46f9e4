#include "com/Variant.h"

#include "errors/ComError.h"

#include <cmath>
#include <limits>
#include <optional>

namespace crv {

namespace {

[[noreturn]] void TypeMismatch() { Raise(vberr::kTypeMismatch, "CRVAnchor", "Type mismatch"); }
[[noreturn]] void Overflow() { Raise(vberr::kOverflow, "CRVAnchor", "Overflow"); }
[[noreturn]] void NullUse() { Raise(vberr::kInvalidUseOfNull, "CRVAnchor", "Invalid use of Null"); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

// A numeric text's value; a text that is numeric in form but too large overflows.
double TextToDouble(std::string_view text, const RegionalSettings& rs) {
    if (const std::optional<double> value = ParseNumber(text, rs)) return *value;
    if (IsNumeric(text, rs)) Overflow();
    TypeMismatch();
}

// Every numeric kind as a double; Empty is 0 and True is -1.
double NumberOf(const Variant& v, const RegionalSettings& rs) {
    switch (v.Type()) {
        case VariantType::Empty: return 0.0;
        case VariantType::Null: NullUse();
        case VariantType::Object: TypeMismatch();
        case VariantType::Boolean: return v.AsBoolean() ? -1.0 : 0.0;
        case VariantType::Integer: return v.AsInteger();
        case VariantType::Long: return v.AsLong();
        case VariantType::Double: return v.AsDouble();
        case VariantType::String: return TextToDouble(v.AsString(), rs);
    }
    TypeMismatch();
}

double RoundHalfEven(double x) {
    const double floor = std::floor(x);
    const double fraction = x - floor;  // exact for every finite double
    if (fraction < 0.5) return floor;
    if (fraction > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

template <class Int>
Int ToInteger(const Variant& v, const RegionalSettings& rs) {
    const double rounded = RoundHalfEven(NumberOf(v, rs));
    constexpr double kMin = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double kMax = static_cast<double>(std::numeric_limits<Int>::max());
    // Written so that NaN fails the test too.
    if (!(rounded >= kMin && rounded <= kMax)) Overflow();
    return static_cast<Int>(rounded);
}

}  // namespace

bool Variant::AsBoolean() const {
    if (const bool* b = std::get_if<bool>(&v_)) return *b;
    TypeMismatch();
}

int16_t Variant::AsInteger() const {
    if (const int16_t* i = std::get_if<int16_t>(&v_)) return *i;
    TypeMismatch();
}

int32_t Variant::AsLong() const {
    if (const int32_t* l = std::get_if<int32_t>(&v_)) return *l;
    TypeMismatch();
}

double Variant::AsDouble() const {
    if (const double* d = std::get_if<double>(&v_)) return *d;
    TypeMismatch();
}

const std::string& Variant::AsString() const {
    if (const std::string* s = std::get_if<std::string>(&v_)) return *s;
    TypeMismatch();
}

ComPtr<Unknown> Variant::AsObject() const {
    if (const ComPtr<Unknown>* o = std::get_if<ComPtr<Unknown>>(&v_)) return *o;
    TypeMismatch();
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.v_.index() != b.v_.index()) return false;
    if (a.IsObject()) {
        return Identity(std::get<ComPtr<Unknown>>(a.v_)) == Identity(std::get<ComPtr<Unknown>>(b.v_));
    }
    return a.v_ == b.v_;
}

const char* Variant::TypeName(VariantType type) {
    switch (type) {
        case VariantType::Empty: return "Empty";
        case VariantType::Null: return "Null";
        case VariantType::Object: return "Object";
        case VariantType::Boolean: return "Boolean";
        case VariantType::Integer: return "Integer";
        case VariantType::Long: return "Long";
        case VariantType::Double: return "Double";
        case VariantType::String: return "String";
    }
    return "Unknown";
}

bool CBool(const Variant& v, const RegionalSettings& rs) {
    if (v.Type() == VariantType::String) {
        const std::string_view text = Trim(v.AsString());
        if (EqualsIgnoringCase(text, "true")) return true;
        if (EqualsIgnoringCase(text, "false")) return false;
    }
    return NumberOf(v, rs) != 0.0;
}

int16_t CInt(const Variant& v, const RegionalSettings& rs) { return ToInteger<int16_t>(v, rs); }

int32_t CLng(const Variant& v, const RegionalSettings& rs) { return ToInteger<int32_t>(v, rs); }

double CDbl(const Variant& v, const RegionalSettings& rs) { return NumberOf(v, rs); }

std::string CStr(const Variant& v, const RegionalSettings& rs) {
    switch (v.Type()) {
        case VariantType::Empty: return "";
        case VariantType::Null: NullUse();
        case VariantType::Object: TypeMismatch();
        case VariantType::Boolean: return v.AsBoolean() ? "True" : "False";
        case VariantType::Integer: return std::to_string(v.AsInteger());
        case VariantType::Long: return std::to_string(v.AsLong());
        case VariantType::Double: return FormatGeneral(v.AsDouble(), rs);
        case VariantType::String: return v.AsString();
    }
    TypeMismatch();
}

}  // namespace crv
