#include "com/ClassTable.h"

#include <gtest/gtest.h>

namespace crv {
namespace {

class Shape : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("11111111-2222-3333-4444-555555555555");
    virtual int Sides() = 0;

protected:
    ~Shape() = default;
};

class Named : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("11111111-2222-3333-4444-666666666666");
    virtual std::string Label() = 0;

protected:
    ~Named() = default;
};

int g_alive = 0;

class Square final : public ComObject<Shape, Named> {
public:
    Square() { ++g_alive; }
    ~Square() override { --g_alive; }
    int Sides() override { return 4; }
    std::string Label() override { return "square"; }
};

constexpr Guid kSquareClass = MakeGuid("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");

TEST(Guid, RegistryTextRoundTripsAndRejectsMalformedText) {
    const Guid g = MakeGuid("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9");
    EXPECT_EQ(g.ToString(), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(Guid::Parse("{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}"), g);
    for (const char* bad : {"", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",
                            "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", "{0A1B2C3D+4E5F-6071-8293-A4B5C6D7E8F9}"}) {
        EXPECT_FALSE(Guid::Parse(bad).has_value()) << bad;
    }
    EXPECT_THROW(Guid::FromString("nope"), ComError);
}

TEST(ComPtr, CountsReferencesAndQueriesInterfacesOfOneObject) {
    {
        ComPtr<Shape> shape = MakeCom<Shape, Square>();
        EXPECT_EQ(g_alive, 1);
        ComPtr<Named> named = ComPtr<Named>::Query(shape);
        ASSERT_TRUE(named);
        EXPECT_EQ(named->Label(), "square");
        EXPECT_TRUE(SameObject(shape, named));
        EXPECT_FALSE(ComPtr<ClassFactory>::Query(shape));
        ComPtr<Shape> copy = shape;
        shape.Reset();
        EXPECT_EQ(g_alive, 1);
        EXPECT_EQ(copy->Sides(), 4);
    }
    EXPECT_EQ(g_alive, 0);
    ComPtr<Shape> empty;
    EXPECT_THROW(empty->Sides(), ComError);
}

TEST(ClassTable, CreatesByClassIdUntilRevoked) {
    {
        ScopedClassRegistration reg(kSquareClass, [] { return ComPtr<Unknown>(MakeCom<Shape, Square>()); });
        EXPECT_TRUE(ClassTable::Instance().IsRegistered(kSquareClass));
        auto named = CreateObject<Named>(kSquareClass);
        EXPECT_EQ(named->Label(), "square");
        try {
            CreateObject<ClassFactory>(kSquareClass);
            FAIL();
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number(), hresult::kNoInterface);
        }
    }
    EXPECT_EQ(g_alive, 0);
    try {
        CreateObject<Shape>(kSquareClass);
        FAIL();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), hresult::kClassNotRegistered);
        EXPECT_NE(e.Description().find("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"), std::string::npos);
    }
}

}  // namespace
}  // namespace crv
