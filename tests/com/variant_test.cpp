#include "com/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace crv {
namespace {

class IShape : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("0b7e4c1a-52d3-4f6e-8a90-3c2d1e0f0101");
    virtual int Sides() = 0;

protected:
    ~IShape() = default;
};

class IColour : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("0b7e4c1a-52d3-4f6e-8a90-3c2d1e0f0102");
    virtual int Rgb() = 0;

protected:
    ~IColour() = default;
};

class Square final : public ComObject<IShape, IColour> {
public:
    int Sides() override { return 4; }
    int Rgb() override { return 0xFF0000; }
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
struct Err {
    int32_t number;
};
constexpr Err kMismatch{13}, kOverflow{6}, kNull{94};

Variant I(int16_t i) { return Variant(i); }
Variant L(int32_t l) { return Variant(l); }
Variant Obj() { return Variant(MakeCom<IShape, Square>()); }
const RegionalSettings kPoint;
const RegionalSettings kComma{",", ".", {3}, true, RegionalSettings::NegativeStyle::Minus};

// The error number a call raises, 0 when it returns.
int32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        return e.Number();
    }
    return 0;
}

TEST(Variant, KindsExactAccessAndEquality) {
    const Variant values[] = {Obj(), Variant(true), I(1), L(1), Variant(1.0), Variant("1")};
    const char* names[] = {"Object", "Boolean", "Integer", "Long", "Double", "String"};
    const std::function<void(const Variant&)> access[] = {
        [](const Variant& v) { v.AsObject(); },  [](const Variant& v) { v.AsBoolean(); },
        [](const Variant& v) { v.AsInteger(); }, [](const Variant& v) { v.AsLong(); },
        [](const Variant& v) { v.AsDouble(); },  [](const Variant& v) { v.AsString(); },
    };
    for (size_t k = 0; k < std::size(values); ++k) {
        EXPECT_STREQ(Variant::TypeName(values[k].Type()), names[k]);
        for (size_t a = 0; a < std::size(access); ++a) {
            EXPECT_EQ(ErrorOf([&] { access[a](values[k]); }), a == k ? 0 : kMismatch.number)
                << names[k] << " as " << names[a];
        }
    }
    EXPECT_STREQ(Variant::TypeName(Variant().Type()), "Empty");
    EXPECT_STREQ(Variant::TypeName(Variant::Null().Type()), "Null");
    // Equality needs the same kind and value; objects compare by identity.
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(I(5), L(5));
    EXPECT_NE(Variant(true), I(-1));
    EXPECT_NE(Variant("a"), Variant("A"));
    const ComPtr<IShape> shape = MakeCom<IShape, Square>();
    EXPECT_EQ(Variant(shape), Variant(ComPtr<IColour>::Query(shape)));
    EXPECT_NE(Variant(shape), Variant(MakeCom<IShape, Square>()));
    EXPECT_EQ(Variant(shape).ObjectAs<IColour>()->Rgb(), 0xFF0000);
    EXPECT_FALSE(Variant(7.0).ObjectAs<IShape>());
}

// A conversion's expected outcome: a value, or an error number.
template <class T>
struct Expect {
    Expect(T v) : value(std::move(v)) {}
    Expect(Err e) : error(e.number) {}
    T value{};
    int32_t error = 0;
};
template <class T>
using Case = std::pair<Variant, Expect<T>>;

template <class T>
void Check(const std::vector<Case<T>>& cases, T (*convert)(const Variant&, const RegionalSettings&),
           const RegionalSettings& rs = kPoint) {
    for (const auto& [input, expected] : cases) {
        const std::string label = std::string(Variant::TypeName(input.Type())) +
                                  (input.Type() == VariantType::String ? " \"" + input.AsString() + '"' : "");
        if (expected.error != 0) {
            EXPECT_EQ(ErrorOf([&] { convert(input, rs); }), expected.error) << label;
        } else {
            try {
                EXPECT_EQ(convert(input, rs), expected.value) << label;
            } catch (const ComError& e) {
                ADD_FAILURE() << label << " raised " << e.Number();
            }
        }
    }
}

TEST(Conversion, CBool) {
    Check<bool>({{Variant(), false},
                 {Variant::Null(), kNull},
                 {Obj(), kMismatch},
                 {I(-1), true},
                 {Variant(-0.0), false},
                 {Variant(0.001), true},
                 {Variant("tRuE"), true},
                 {Variant(" \tfalse\t "), false},
                 {Variant("0.0"), false},
                 {Variant("(0.5)"), true},
                 {Variant("1e400"), kOverflow},
                 {Variant("True1"), kMismatch},
                 {Variant(""), kMismatch}},
                CBool);
}

TEST(Conversion, CInt) {
    Check<int16_t>({{Variant(), 0},
                    {Variant::Null(), kNull},
                    {Obj(), kMismatch},
                    {Variant(true), -1},
                    {L(32767), 32767},
                    {L(32768), kOverflow},
                    {L(-32769), kOverflow},
                    // Halves go to the even neighbour.
                    {Variant(0.5), 0},
                    {Variant(1.5), 2},
                    {Variant(2.5), 2},
                    {Variant(-1.5), -2},
                    {Variant(-2.5), -2},
                    {Variant(std::nextafter(2.5, 3.0)), 3},
                    {Variant(0.49999999999999994), 0},
                    {Variant(32767.4), 32767},
                    {Variant(32767.5), kOverflow},
                    {Variant(-32768.5), -32768},
                    {Variant(std::nextafter(-32768.5, -kInf)), kOverflow},
                    {Variant(kNaN), kOverflow},
                    {Variant(kInf), kOverflow},
                    {Variant(" 2.5 "), 2},
                    {Variant("32,767"), 32767},
                    {Variant("(3.5)"), -4},
                    {Variant("32768"), kOverflow},
                    {Variant("True"), kMismatch},
                    {Variant("12 apples"), kMismatch}},
                   CInt);
}

TEST(Conversion, CLng) {
    Check<int32_t>({{Variant::Null(), kNull},
                    {Variant(true), -1},
                    {Variant(2147483646.5), 2147483646},
                    {Variant(2147483647.5), kOverflow},
                    {Variant(-2147483648.5), INT32_MIN},
                    {Variant(-2147483649.0), kOverflow},
                    {Variant(-7.5), -8},
                    {Variant(kNaN), kOverflow},
                    {Variant("2,147,483,647"), 2147483647},
                    {Variant("2147483648"), kOverflow},
                    {Variant("-1.5e3"), -1500},
                    {Variant("False"), kMismatch}},
                   CLng);
}

TEST(Conversion, CDblAndCStr) {
    Check<double>({{Variant(), 0.0},
                   {Variant::Null(), kNull},
                   {Obj(), kMismatch},
                   {Variant(true), -1.0},
                   {L(2147483647), 2147483647.0},
                   {Variant(" (1,234.5) "), -1234.5},
                   {Variant("-1.5E-7"), -1.5e-7},
                   {Variant("-1e400"), kOverflow},
                   {Variant("1e-400"), 0.0},
                   {Variant("NaN"), kMismatch}},
                  CDbl);
    Check<std::string>({{Variant(), std::string()},
                        {Variant::Null(), kNull},
                        {Obj(), kMismatch},
                        {Variant(true), std::string("True")},
                        {Variant(false), std::string("False")},
                        {I(-32768), std::string("-32768")},
                        {Variant(1234567.0), std::string("1234567")},
                        {Variant(1e20), std::string("1E+20")},
                        {Variant(" as  is "), std::string(" as  is ")}},
                       CStr);
}

TEST(Conversion, ErrorsCarryTheRunTimeText) {
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { CDbl(Variant("x"), kPoint); }, "13 CRVAnchor: Type mismatch"},
        {[] { CInt(Variant(1e6), kPoint); }, "6 CRVAnchor: Overflow"},
        {[] { CStr(Variant::Null(), kPoint); }, "94 CRVAnchor: Invalid use of Null"},
    };
    for (const auto& [call, text] : cases) {
        std::string got = "not raised";
        try {
            call();
        } catch (const ComError& e) {
            got = std::to_string(e.Number()) + " " + e.Source() + ": " + e.Description();
        }
        EXPECT_EQ(got, text);
    }
}

TEST(Conversion, CommaDecimalExplicitlyAndAsTheCurrentSettings) {
    Check<double>({{Variant("12,50"), 12.5}, {Variant("12.50"), 1250.0}, {Variant("1,2,3"), kMismatch}}, CDbl, kComma);
    Check<int32_t>({{Variant("1.000.000"), 1000000}, {Variant("2,5"), 2}}, CLng, kComma);
    Check<std::string>({{Variant(-1.5e-7), std::string("-1,5E-07")}, {L(1234567), std::string("1234567")}}, CStr,
                       kComma);
    for (const double value : {0.1, -2.75, 123456789012345.0, -9.87654321e-200}) {
        EXPECT_EQ(CDbl(Variant(CStr(Variant(value), kComma)), kComma), value);
    }
    ScopedRegionalSettings scope(kComma);
    EXPECT_EQ(CStr(Variant(12.5)), "12,5");
    EXPECT_EQ(CInt(Variant("1.000")), 1000);
    EXPECT_EQ(CLng(Variant("3,5")), 4);
    EXPECT_TRUE(CBool(Variant("0,5")));
}

}  // namespace
}  // namespace crv
