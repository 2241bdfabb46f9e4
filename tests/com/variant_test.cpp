#include "com/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <variant>
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

Variant Int(int16_t i) { return Variant(i); }
Variant Lng(int32_t l) { return Variant(l); }
Variant AnObject() { return Variant(MakeCom<IShape, Square>()); }

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

// --- Kinds and exact access -------------------------------------------------------------

TEST(Variant, EachConstructorGivesItsKind) {
    const struct {
        Variant value;
        VariantType type;
        const char* name;
    } cases[] = {
        {Variant(), VariantType::Empty, "Empty"},
        {Variant::Null(), VariantType::Null, "Null"},
        {AnObject(), VariantType::Object, "Object"},
        {Variant(ComPtr<Unknown>()), VariantType::Object, "Object"},
        {Variant(true), VariantType::Boolean, "Boolean"},
        {Int(1), VariantType::Integer, "Integer"},
        {Lng(1), VariantType::Long, "Long"},
        {Variant(1.0), VariantType::Double, "Double"},
        {Variant("x"), VariantType::String, "String"},
        {Variant(std::string("x")), VariantType::String, "String"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.Type(), c.type) << c.name;
        EXPECT_STREQ(Variant::TypeName(c.value.Type()), c.name);
        EXPECT_EQ(c.value.IsEmpty(), c.type == VariantType::Empty);
        EXPECT_EQ(c.value.IsNull(), c.type == VariantType::Null);
        EXPECT_EQ(c.value.IsObject(), c.type == VariantType::Object);
    }
}

TEST(Variant, ExactAccessReturnsTheValue) {
    EXPECT_TRUE(Variant(true).AsBoolean());
    EXPECT_EQ(Int(-32768).AsInteger(), -32768);
    EXPECT_EQ(Lng(2147483647).AsLong(), 2147483647);
    EXPECT_EQ(Variant(2.5).AsDouble(), 2.5);
    EXPECT_EQ(Variant("abc").AsString(), "abc");
}

TEST(Variant, ExactAccessToAnotherKindIsTypeMismatch) {
    const Variant values[] = {Variant(),  Variant::Null(), AnObject(),   Variant(true),
                              Int(1),     Lng(1),          Variant(1.0), Variant("1")};
    const std::function<void(const Variant&)> accessors[] = {
        [](const Variant& v) { v.AsBoolean(); }, [](const Variant& v) { v.AsInteger(); },
        [](const Variant& v) { v.AsLong(); },    [](const Variant& v) { v.AsDouble(); },
        [](const Variant& v) { v.AsString(); },  [](const Variant& v) { v.AsObject(); },
    };
    const VariantType accessor_kind[] = {VariantType::Boolean, VariantType::Integer,
                                         VariantType::Long,    VariantType::Double,
                                         VariantType::String,  VariantType::Object};
    for (const Variant& v : values) {
        for (size_t a = 0; a < std::size(accessors); ++a) {
            const int32_t expected = v.Type() == accessor_kind[a] ? 0 : 13;
            EXPECT_EQ(ErrorOf([&] { accessors[a](v); }), expected)
                << Variant::TypeName(v.Type()) << " via accessor " << a;
        }
    }
}

TEST(Variant, MismatchCarriesTheRunTimeText) {
    try {
        Variant("x").AsLong();
        FAIL() << "no error";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), 13);
        EXPECT_EQ(e.Source(), "CRVAnchor");
        EXPECT_EQ(e.Description(), "Type mismatch");
    }
}

TEST(Variant, ObjectsAreReachedThroughTheirInterfaces) {
    const ComPtr<IShape> shape = MakeCom<IShape, Square>();
    const Variant v(shape);
    EXPECT_TRUE(SameObject(v.AsObject(), shape));
    ASSERT_TRUE(v.ObjectAs<IColour>());
    EXPECT_EQ(v.ObjectAs<IColour>()->Rgb(), 0xFF0000);
    EXPECT_FALSE(Variant(MakeCom<IShape, Plain>()).ObjectAs<IColour>());
    EXPECT_FALSE(Variant(7.0).ObjectAs<IShape>());
    EXPECT_FALSE(Variant(ComPtr<Unknown>()).AsObject());
}

TEST(Variant, HoldsItsObjectAlive) {
    Square* raw = nullptr;
    Variant v;
    {
        ComPtr<IShape> shape = MakeCom<IShape, Square>();
        raw = static_cast<Square*>(shape.Get());
        v = Variant(shape);
        EXPECT_EQ(raw->RefCount(), 2u);
    }
    EXPECT_EQ(raw->RefCount(), 1u);
    EXPECT_EQ(v.ObjectAs<IShape>()->Sides(), 4);
}

// --- Equality ---------------------------------------------------------------------------

TEST(Variant, EqualityNeedsTheSameKindAndValue) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_EQ(Int(5), Int(5));
    EXPECT_NE(Int(5), Int(6));
    EXPECT_NE(Int(5), Lng(5));
    EXPECT_NE(Lng(1), Variant(1.0));
    EXPECT_NE(Variant(true), Int(-1));
    EXPECT_EQ(Variant(2.5), Variant(2.5));
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_NE(Variant("a"), Variant("A"));
    EXPECT_NE(Variant(""), Variant());
    EXPECT_NE(Variant(0.0), Variant());
}

TEST(Variant, ObjectsCompareByIdentity) {
    const ComPtr<IShape> shape = MakeCom<IShape, Square>();
    const ComPtr<IColour> colour = ComPtr<IColour>::Query(shape);
    ASSERT_TRUE(colour);
    // Two interface pointers of one object are one object.
    EXPECT_EQ(Variant(shape), Variant(colour));
    EXPECT_NE(Variant(shape), Variant(MakeCom<IShape, Square>()));
    EXPECT_EQ(Variant(ComPtr<Unknown>()), Variant(ComPtr<IShape>()));
    EXPECT_NE(Variant(shape), Variant(ComPtr<IShape>()));
}

// --- Conversions ------------------------------------------------------------------------

// A conversion's outcome: a value or an error number.
template <class T>
struct Outcome {
    Outcome(T v) : value(v) {}
    static Outcome Error(int32_t number) {
        Outcome o{T{}};
        o.error = number;
        return o;
    }
    T value;
    int32_t error = 0;
};

template <class T>
struct ConversionCase {
    Variant input;
    Outcome<T> expected;
};

template <class T, class Convert>
void Check(const std::vector<ConversionCase<T>>& cases, Convert convert) {
    for (const auto& c : cases) {
        const std::string label =
            std::string(Variant::TypeName(c.input.Type())) +
            (c.input.Type() == VariantType::String ? " \"" + c.input.AsString() + "\"" : "");
        if (c.expected.error != 0) {
            EXPECT_EQ(ErrorOf([&] { convert(c.input); }), c.expected.error) << label;
        } else {
            try {
                EXPECT_EQ(convert(c.input), c.expected.value) << label;
            } catch (const ComError& e) {
                ADD_FAILURE() << label << " raised " << e.Number();
            }
        }
    }
}

constexpr int32_t kMismatch = 13;
constexpr int32_t kOverflow = 6;
constexpr int32_t kNull = 94;

template <class T>
Outcome<T> Err(int32_t n) {
    return Outcome<T>::Error(n);
}

TEST(Conversion, CBool) {
    const RegionalSettings rs;
    Check<bool>(
        {
            {Variant(), false},
            {Variant::Null(), Err<bool>(kNull)},
            {AnObject(), Err<bool>(kMismatch)},
            {Variant(true), true},
            {Variant(false), false},
            {Int(0), false},
            {Int(-1), true},
            {Lng(7), true},
            {Variant(0.0), false},
            {Variant(-0.0), false},
            {Variant(0.001), true},
            {Variant(kNaN), true},
            {Variant("True"), true},
            {Variant("FALSE"), false},
            {Variant("tRuE"), true},
            {Variant(" \tfalse\t "), false},
            {Variant("1"), true},
            {Variant("0"), false},
            {Variant("-1"), true},
            {Variant("0.0"), false},
            {Variant("(0.5)"), true},
            {Variant("1e400"), Err<bool>(kOverflow)},
            {Variant("yes"), Err<bool>(kMismatch)},
            {Variant("True1"), Err<bool>(kMismatch)},
            {Variant("T rue"), Err<bool>(kMismatch)},
            {Variant(""), Err<bool>(kMismatch)},
        },
        [&](const Variant& v) { return CBool(v, rs); });
}

TEST(Conversion, CInt) {
    const RegionalSettings rs;
    Check<int16_t>(
        {
            {Variant(), 0},
            {Variant::Null(), Err<int16_t>(kNull)},
            {AnObject(), Err<int16_t>(kMismatch)},
            {Variant(true), -1},
            {Variant(false), 0},
            {Int(-32768), -32768},
            {Lng(32767), 32767},
            {Lng(32768), Err<int16_t>(kOverflow)},
            {Lng(-32769), Err<int16_t>(kOverflow)},
            // Halves go to the even neighbour.
            {Variant(0.5), 0},
            {Variant(1.5), 2},
            {Variant(2.5), 2},
            {Variant(3.5), 4},
            {Variant(-0.5), 0},
            {Variant(-1.5), -2},
            {Variant(-2.5), -2},
            {Variant(2.5000000000000004), 3},
            {Variant(0.49999999999999994), 0},
            {Variant(-2.4999999999999996), -2},
            {Variant(32766.5), 32766},
            {Variant(32767.4), 32767},
            {Variant(32767.5), Err<int16_t>(kOverflow)},
            {Variant(-32768.5), -32768},
            {Variant(std::nextafter(-32768.5, -kInf)), Err<int16_t>(kOverflow)},
            {Variant(-32769.5), Err<int16_t>(kOverflow)},
            {Variant(kNaN), Err<int16_t>(kOverflow)},
            {Variant(kInf), Err<int16_t>(kOverflow)},
            {Variant(-kInf), Err<int16_t>(kOverflow)},
            {Variant("12"), 12},
            {Variant(" 2.5 "), 2},
            {Variant("32,767"), 32767},
            {Variant("(3.5)"), -4},
            {Variant("1e4"), 10000},
            {Variant("32768"), Err<int16_t>(kOverflow)},
            {Variant("1e400"), Err<int16_t>(kOverflow)},
            {Variant("True"), Err<int16_t>(kMismatch)},
            {Variant("12 apples"), Err<int16_t>(kMismatch)},
            {Variant(""), Err<int16_t>(kMismatch)},
        },
        [&](const Variant& v) { return CInt(v, rs); });
}

TEST(Conversion, CLng) {
    const RegionalSettings rs;
    Check<int32_t>(
        {
            {Variant(), 0},
            {Variant::Null(), Err<int32_t>(kNull)},
            {AnObject(), Err<int32_t>(kMismatch)},
            {Variant(true), -1},
            {Int(-32768), -32768},
            {Lng(-2147483647 - 1), -2147483647 - 1},
            {Variant(2147483646.5), 2147483646},
            {Variant(2147483647.0), 2147483647},
            {Variant(2147483647.5), Err<int32_t>(kOverflow)},
            {Variant(-2147483648.5), -2147483647 - 1},
            {Variant(-2147483649.0), Err<int32_t>(kOverflow)},
            {Variant(4503599627370497.0), Err<int32_t>(kOverflow)},
            {Variant(-7.5), -8},
            {Variant(kNaN), Err<int32_t>(kOverflow)},
            {Variant("2,147,483,647"), 2147483647},
            {Variant("2147483648"), Err<int32_t>(kOverflow)},
            {Variant("-1.5e3"), -1500},
            {Variant("False"), Err<int32_t>(kMismatch)},
            {Variant("abc"), Err<int32_t>(kMismatch)},
        },
        [&](const Variant& v) { return CLng(v, rs); });
}

TEST(Conversion, CDbl) {
    const RegionalSettings rs;
    Check<double>(
        {
            {Variant(), 0.0},
            {Variant::Null(), Err<double>(kNull)},
            {AnObject(), Err<double>(kMismatch)},
            {Variant(true), -1.0},
            {Variant(false), 0.0},
            {Int(-32768), -32768.0},
            {Lng(2147483647), 2147483647.0},
            {Variant(1e300), 1e300},
            {Variant("12.50"), 12.5},
            {Variant("0.1"), 0.1},
            {Variant(" (1,234.5) "), -1234.5},
            {Variant("-1.5E-7"), -1.5e-7},
            {Variant("1e400"), Err<double>(kOverflow)},
            {Variant("-1e400"), Err<double>(kOverflow)},
            {Variant("1e-400"), 0.0},
            {Variant("12,50.0,"), Err<double>(kMismatch)},
            {Variant("True"), Err<double>(kMismatch)},
            {Variant("NaN"), Err<double>(kMismatch)},
            {Variant(""), Err<double>(kMismatch)},
        },
        [&](const Variant& v) { return CDbl(v, rs); });
}

TEST(Conversion, CStr) {
    const RegionalSettings rs;
    Check<std::string>(
        {
            {Variant(), std::string()},
            {Variant::Null(), Err<std::string>(kNull)},
            {AnObject(), Err<std::string>(kMismatch)},
            {Variant(true), std::string("True")},
            {Variant(false), std::string("False")},
            {Int(-32768), std::string("-32768")},
            {Lng(2147483647), std::string("2147483647")},
            {Variant(12.5), std::string("12.5")},
            {Variant(1234567.0), std::string("1234567")},
            {Variant(1e20), std::string("1E+20")},
            {Variant(-0.0), std::string("0")},
            {Variant(1.0 / 3.0), std::string("0.333333333333333")},
            {Variant(" keep  as is "), std::string(" keep  as is ")},
        },
        [&](const Variant& v) { return CStr(v, rs); });
}

TEST(Conversion, ErrorsCarryTheRunTimeText) {
    const struct {
        std::function<void()> call;
        int32_t number;
        const char* text;
    } cases[] = {
        {[] { CDbl(Variant("x"), RegionalSettings()); }, 13, "Type mismatch"},
        {[] { CInt(Variant(1e6), RegionalSettings()); }, 6, "Overflow"},
        {[] { CStr(Variant::Null(), RegionalSettings()); }, 94, "Invalid use of Null"},
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
    // '.' groups digits here.
    EXPECT_EQ(CDbl(Variant("12.50"), rs), 1250.0);
    EXPECT_EQ(CDbl(Variant("1.234,5"), rs), 1234.5);
    EXPECT_EQ(CInt(Variant("2,5"), rs), 2);
    EXPECT_EQ(CLng(Variant("1.000.000"), rs), 1000000);
    EXPECT_FALSE(CBool(Variant("0,0"), rs));
    EXPECT_TRUE(CBool(Variant("0,1"), rs));
    EXPECT_EQ(CStr(Variant(12.5), rs), "12,5");
    EXPECT_EQ(CStr(Variant(-1.5e-7), rs), "-1,5E-07");
    // Integers never take separators.
    EXPECT_EQ(CStr(Lng(1234567), rs), "1234567");
    EXPECT_EQ(ErrorOf([&] { CDbl(Variant("1,2,3"), rs); }), kMismatch);
}

TEST(Conversion, TextAndNumberGiveTheSameDouble) {
    const RegionalSettings point;
    EXPECT_EQ(CDbl(Variant("12.50"), point), CDbl(Variant(12.5), point));
    EXPECT_EQ(CDbl(Variant("12,50"), Comma()), CDbl(Variant(12.5), Comma()));
    for (const double value : {0.1, -2.75, 1e-5, 123456789012345.0, 6.02214076e23, -9.87654321e-200}) {
        for (const RegionalSettings& rs : {point, Comma()}) {
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
