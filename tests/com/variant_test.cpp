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

class Plain final : public ComObject<IShape> {
public:
    int Sides() override { return 0; }
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kMismatch = 13;
constexpr int32_t kOverflow = 6;
constexpr int32_t kNull = 94;

Variant I(int16_t i) { return Variant(i); }
Variant L(int32_t l) { return Variant(l); }
Variant Obj() { return Variant(MakeCom<IShape, Square>()); }

RegionalSettings Comma() {
    RegionalSettings rs;
    rs.decimal_separator = ",";
    rs.group_separator = ".";
    return rs;
}

// The error number a call raises, 0 when it returns.
int32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        return e.Number();
    }
    return 0;
}

TEST(Variant, KindsAndExactAccess) {
    const Variant values[] = {Variant(), Variant::Null(), Obj(),         Variant(true),
                              I(1),      L(1),            Variant(1.0), Variant("1")};
    const char* names[] = {"Empty", "Null", "Object", "Boolean", "Integer", "Long", "Double", "String"};
    const std::function<void(const Variant&)> access[] = {
        nullptr,
        nullptr,
        [](const Variant& v) { v.AsObject(); },
        [](const Variant& v) { v.AsBoolean(); },
        [](const Variant& v) { v.AsInteger(); },
        [](const Variant& v) { v.AsLong(); },
        [](const Variant& v) { v.AsDouble(); },
        [](const Variant& v) { v.AsString(); },
    };
    for (size_t k = 0; k < std::size(values); ++k) {
        EXPECT_STREQ(Variant::TypeName(values[k].Type()), names[k]);
        EXPECT_EQ(values[k].IsEmpty(), k == 0);
        EXPECT_EQ(values[k].IsNull(), k == 1);
        EXPECT_EQ(values[k].IsObject(), k == 2);
        for (size_t a = 2; a < std::size(access); ++a) {
            EXPECT_EQ(ErrorOf([&] { access[a](values[k]); }), a == k ? 0 : kMismatch)
                << names[k] << " read as " << names[a];
        }
    }
    EXPECT_EQ(Variant("abc").AsString(), "abc");
    EXPECT_EQ(I(-32768).AsInteger(), -32768);
}

TEST(Variant, ObjectsAreReachedThroughTheirInterfaces) {
    const ComPtr<IShape> shape = MakeCom<IShape, Square>();
    const Variant v(shape);
    EXPECT_TRUE(SameObject(v.AsObject(), shape));
    ASSERT_TRUE(v.ObjectAs<IColour>());
    EXPECT_EQ(v.ObjectAs<IColour>()->Rgb(), 0xFF0000);
    EXPECT_FALSE(Variant(MakeCom<IShape, Plain>()).ObjectAs<IColour>());
    EXPECT_FALSE(Variant(7.0).ObjectAs<IShape>());
    EXPECT_TRUE(Variant(ComPtr<Unknown>()).IsObject());
    EXPECT_FALSE(Variant(ComPtr<Unknown>()).AsObject());
}

TEST(Variant, EqualityNeedsTheSameKindAndValue) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_EQ(I(5), I(5));
    EXPECT_NE(I(5), I(6));
    EXPECT_NE(I(5), L(5));
    EXPECT_NE(L(1), Variant(1.0));
    EXPECT_NE(Variant(true), I(-1));
    EXPECT_EQ(Variant(2.5), Variant(2.5));
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_NE(Variant("a"), Variant("A"));
    EXPECT_NE(Variant(""), Variant());

    // Objects by identity: two interfaces of one object are one object.
    const ComPtr<IShape> shape = MakeCom<IShape, Square>();
    EXPECT_EQ(Variant(shape), Variant(ComPtr<IColour>::Query(shape)));
    EXPECT_NE(Variant(shape), Variant(MakeCom<IShape, Square>()));
    EXPECT_EQ(Variant(ComPtr<Unknown>()), Variant(ComPtr<IShape>()));
    EXPECT_NE(Variant(shape), Variant(ComPtr<IShape>()));
}

// A conversion's expected outcome: a value, or an error number.
template <class T>
struct Expect {
    Expect(T v) : value(std::move(v)) {}
    static Expect Error(int32_t n) {
        Expect e{T{}};
        e.error = n;
        return e;
    }
    T value;
    int32_t error = 0;
};
template <class T>
Expect<T> Err(int32_t n) {
    return Expect<T>::Error(n);
}

template <class T>
void Check(const std::vector<std::pair<Variant, Expect<T>>>& cases,
           const std::function<T(const Variant&)>& convert) {
    for (const auto& [input, expected] : cases) {
        const std::string label = std::string(Variant::TypeName(input.Type())) +
                                  (input.Type() == VariantType::String ? " \"" + input.AsString() + '"' : "");
        if (expected.error != 0) {
            EXPECT_EQ(ErrorOf([&] { convert(input); }), expected.error) << label;
            continue;
        }
        try {
            EXPECT_EQ(convert(input), expected.value) << label;
        } catch (const ComError& e) {
            ADD_FAILURE() << label << " raised " << e.Number();
        }
    }
}

const RegionalSettings kPoint;

TEST(Conversion, CBool) {
    Check<bool>({{Variant(), false}, {Variant::Null(), Err<bool>(kNull)}, {Obj(), Err<bool>(kMismatch)},
                 {Variant(true), true}, {Variant(false), false}, {I(0), false}, {I(-1), true},
                 {L(7), true}, {Variant(0.0), false}, {Variant(-0.0), false}, {Variant(0.001), true},
                 {Variant("True"), true}, {Variant("FALSE"), false}, {Variant("tRuE"), true},
                 {Variant(" \tfalse\t "), false}, {Variant("1"), true}, {Variant("0.0"), false},
                 {Variant("(0.5)"), true}, {Variant("1e400"), Err<bool>(kOverflow)},
                 {Variant("yes"), Err<bool>(kMismatch)}, {Variant("True1"), Err<bool>(kMismatch)},
                 {Variant("T rue"), Err<bool>(kMismatch)}, {Variant(""), Err<bool>(kMismatch)}},
                [](const Variant& v) { return CBool(v, kPoint); });
}

TEST(Conversion, CInt) {
    const auto E = Err<int16_t>;
    Check<int16_t>(
        {{Variant(), 0}, {Variant::Null(), E(kNull)}, {Obj(), E(kMismatch)}, {Variant(true), -1},
         {Variant(false), 0}, {I(-32768), -32768}, {L(32767), 32767}, {L(32768), E(kOverflow)},
         {L(-32769), E(kOverflow)},
         // Halves go to the even neighbour.
         {Variant(0.5), 0}, {Variant(1.5), 2}, {Variant(2.5), 2}, {Variant(3.5), 4},
         {Variant(-0.5), 0}, {Variant(-1.5), -2}, {Variant(-2.5), -2},
         {Variant(std::nextafter(2.5, 3.0)), 3}, {Variant(0.49999999999999994), 0},
         {Variant(32766.5), 32766}, {Variant(32767.4), 32767}, {Variant(32767.5), E(kOverflow)},
         {Variant(-32768.5), -32768}, {Variant(std::nextafter(-32768.5, -kInf)), E(kOverflow)},
         {Variant(kNaN), E(kOverflow)}, {Variant(kInf), E(kOverflow)}, {Variant(-kInf), E(kOverflow)},
         {Variant(" 2.5 "), 2}, {Variant("32,767"), 32767}, {Variant("(3.5)"), -4},
         {Variant("1e4"), 10000}, {Variant("32768"), E(kOverflow)}, {Variant("1e400"), E(kOverflow)},
         {Variant("True"), E(kMismatch)}, {Variant("12 apples"), E(kMismatch)}, {Variant(""), E(kMismatch)}},
        [](const Variant& v) { return CInt(v, kPoint); });
}

TEST(Conversion, CLng) {
    const auto E = Err<int32_t>;
    Check<int32_t>(
        {{Variant(), 0}, {Variant::Null(), E(kNull)}, {Obj(), E(kMismatch)}, {Variant(true), -1},
         {I(-32768), -32768}, {Variant(2147483646.5), 2147483646}, {Variant(2147483647.0), 2147483647},
         {Variant(2147483647.5), E(kOverflow)}, {Variant(-2147483648.5), INT32_MIN},
         {Variant(-2147483649.0), E(kOverflow)}, {Variant(-7.5), -8}, {Variant(kNaN), E(kOverflow)},
         {Variant("2,147,483,647"), 2147483647}, {Variant("2147483648"), E(kOverflow)},
         {Variant("-1.5e3"), -1500}, {Variant("False"), E(kMismatch)}},
        [](const Variant& v) { return CLng(v, kPoint); });
}

TEST(Conversion, CDbl) {
    const auto E = Err<double>;
    Check<double>(
        {{Variant(), 0.0}, {Variant::Null(), E(kNull)}, {Obj(), E(kMismatch)}, {Variant(true), -1.0},
         {I(-32768), -32768.0}, {L(2147483647), 2147483647.0}, {Variant(1e300), 1e300},
         {Variant("12.50"), 12.5}, {Variant(" (1,234.5) "), -1234.5}, {Variant("-1.5E-7"), -1.5e-7},
         {Variant("1e400"), E(kOverflow)}, {Variant("-1e400"), E(kOverflow)}, {Variant("1e-400"), 0.0},
         {Variant("True"), E(kMismatch)}, {Variant("NaN"), E(kMismatch)}, {Variant(""), E(kMismatch)}},
        [](const Variant& v) { return CDbl(v, kPoint); });
}

TEST(Conversion, CStr) {
    const auto E = Err<std::string>;
    Check<std::string>(
        {{Variant(), std::string()}, {Variant::Null(), E(kNull)}, {Obj(), E(kMismatch)},
         {Variant(true), std::string("True")}, {Variant(false), std::string("False")},
         {I(-32768), std::string("-32768")}, {L(2147483647), std::string("2147483647")},
         {Variant(12.5), std::string("12.5")}, {Variant(1234567.0), std::string("1234567")},
         {Variant(1e20), std::string("1E+20")}, {Variant(-0.0), std::string("0")},
         {Variant(" as  is "), std::string(" as  is ")}},
        [](const Variant& v) { return CStr(v, kPoint); });
}

TEST(Conversion, ErrorsCarryTheRunTimeText) {
    const struct {
        std::function<void()> call;
        int32_t number;
        const char* text;
    } cases[] = {
        {[] { CDbl(Variant("x"), kPoint); }, 13, "Type mismatch"},
        {[] { Variant(1.0).AsString(); }, 13, "Type mismatch"},
        {[] { CInt(Variant(1e6), kPoint); }, 6, "Overflow"},
        {[] { CStr(Variant::Null(), kPoint); }, 94, "Invalid use of Null"},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.text << " not raised";
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number(), c.number);
            EXPECT_EQ(e.Source(), "CRVAnchor");
            EXPECT_EQ(e.Description(), c.text);
        }
    }
}

TEST(Conversion, CommaDecimalLocale) {
    const RegionalSettings rs = Comma();
    EXPECT_EQ(CDbl(Variant("12,50"), rs), 12.5);
    EXPECT_EQ(CDbl(Variant("12.50"), rs), 1250.0);  // '.' groups here
    EXPECT_EQ(CInt(Variant("2,5"), rs), 2);
    EXPECT_EQ(CLng(Variant("1.000.000"), rs), 1000000);
    EXPECT_FALSE(CBool(Variant("0,0"), rs));
    EXPECT_EQ(CStr(Variant(-1.5e-7), rs), "-1,5E-07");
    EXPECT_EQ(CStr(L(1234567), rs), "1234567");
    EXPECT_EQ(ErrorOf([&] { CDbl(Variant("1,2,3"), rs); }), kMismatch);
}

TEST(Conversion, TextAndNumberGiveTheSameDouble) {
    for (const double value : {12.5, 0.1, -2.75, 1e-5, 123456789012345.0, 6.02214076e23, -9.87654321e-200}) {
        for (const RegionalSettings& rs : {kPoint, Comma()}) {
            EXPECT_EQ(CDbl(Variant(CStr(Variant(value), rs)), rs), value) << value;
        }
    }
}

TEST(Conversion, DefaultsToTheCurrentSettings) {
    ScopedRegionalSettings scope(Comma());
    EXPECT_EQ(CStr(Variant(12.5)), "12,5");
    EXPECT_EQ(CDbl(Variant("12,5")), 12.5);
    EXPECT_EQ(CInt(Variant("1.000")), 1000);
    EXPECT_EQ(CLng(Variant("3,5")), 4);
    EXPECT_TRUE(CBool(Variant("0,5")));
}

}  // namespace
}  // namespace crv
