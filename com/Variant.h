#pragma once
// A value as it crosses between the component and its host: empty, null, object, boolean,
// 16-bit integer, 32-bit integer, double or string, with the platform's conversions.

#include "com/Regional.h"
#include "com/Unknown.h"

#include <cstdint>
#include <string>
#include <variant>

namespace crv {

struct NullValue {
    friend bool operator==(NullValue, NullValue) { return true; }
};

enum class VariantType { Empty, Null, Object, Boolean, Integer, Long, Double, String };

// GCC 12 at -O2 warns that the string alternative of the variant "may be used uninitialized"
// when a Variant is copied or moved after inlining; it is always initialised (a GCC 12 false
// positive with std::variant). Silenced for this class's implicit copy, move and destructor.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
class Variant {
public:
    Variant() = default;
    static Variant Null() { return Variant(NullValue{}); }
    Variant(NullValue) : v_(NullValue{}) {}
    Variant(bool b) : v_(b) {}
    Variant(int16_t i) : v_(i) {}
    Variant(int32_t l) : v_(l) {}
    Variant(double d) : v_(d) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}
    template <class T>
    Variant(const ComPtr<T>& object) : v_(ComPtr<Unknown>(object)) {}

    VariantType Type() const { return static_cast<VariantType>(v_.index()); }
    bool IsEmpty() const { return Type() == VariantType::Empty; }
    bool IsNull() const { return Type() == VariantType::Null; }
    bool IsObject() const { return Type() == VariantType::Object; }

    // Exact access; each throws "Type mismatch" (13) for another kind.
    bool AsBoolean() const;
    int16_t AsInteger() const;
    int32_t AsLong() const;
    double AsDouble() const;
    const std::string& AsString() const;
    // The object held (empty for an object value that is no object); "Type mismatch" for
    // any value that is not an object.
    ComPtr<Unknown> AsObject() const;
    // The object's interface I, or empty when the value is no object or lacks I.
    template <class I>
    ComPtr<I> ObjectAs() const {
        if (!IsObject()) return {};
        return ComPtr<I>::Query(std::get<ComPtr<Unknown>>(v_));
    }

    // Same kind and same value; objects compare by identity.
    friend bool operator==(const Variant& a, const Variant& b);

    // The kind's name as the platform shows it: "Empty", "Null", "Object", "Boolean",
    // "Integer", "Long", "Double", "String".
    static const char* TypeName(VariantType type);

private:
    std::variant<std::monostate, NullValue, ComPtr<Unknown>, bool, int16_t, int32_t, double, std::string> v_;
};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The platform's conversions. Errors: "Type mismatch" (13), "Overflow" (6), "Invalid use of
// Null" (94). Numbers round half to even on conversion to integers.
bool CBool(const Variant& v, const RegionalSettings& rs = RegionalSettings::Current());
int16_t CInt(const Variant& v, const RegionalSettings& rs = RegionalSettings::Current());
int32_t CLng(const Variant& v, const RegionalSettings& rs = RegionalSettings::Current());
double CDbl(const Variant& v, const RegionalSettings& rs = RegionalSettings::Current());
std::string CStr(const Variant& v, const RegionalSettings& rs = RegionalSettings::Current());

}  // namespace crv
