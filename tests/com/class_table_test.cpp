#include "com/ClassTable.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

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

class Tag final : public ComObject<Named> {
public:
    explicit Tag(std::string label) : label_(std::move(label)) {}
    std::string Label() override { return label_; }

private:
    std::string label_;
};

// A factory making tags with this label, holding `token` for as long as the factory lives.
FunctionClassFactory::Maker Tagger(std::string label, std::shared_ptr<int> token = nullptr) {
    return [label = std::move(label), token] { return ComPtr<Unknown>(MakeCom<Named, Tag>(label)); };
}

std::string LabelOf(const Guid& clsid) { return CreateObject<Named>(clsid)->Label(); }

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

TEST(ClassTable, EveryCreationSeesTheRegistrationsInForce) {
    auto token = std::make_shared<int>(0);
    auto first = std::make_unique<ScopedClassRegistration>(kSquareClass, Tagger("first", token));
    EXPECT_EQ(LabelOf(kSquareClass), "first");
    {
        // Registered on another thread: this one creates through it next.
        std::unique_ptr<ScopedClassRegistration> second;
        std::thread([&] { second = std::make_unique<ScopedClassRegistration>(kSquareClass, Tagger("second")); }).join();
        EXPECT_EQ(LabelOf(kSquareClass), "second");
        std::thread([&] { EXPECT_EQ(LabelOf(kSquareClass), "second"); }).join();
        std::thread([&] { second.reset(); }).join();
        EXPECT_EQ(LabelOf(kSquareClass), "first");
    }
    // A revoked class object is let go of at once.
    std::thread([&] { EXPECT_EQ(LabelOf(kSquareClass), "first"); }).join();
    first.reset();
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_THROW(LabelOf(kSquareClass), ComError);

    // Many classes whose ids differ in one place or another, each served by its own factory.
    std::vector<Guid> ids;
    for (uint32_t i = 0; i < 40; ++i) {
        Guid g = kSquareClass;
        if (i % 2 == 0)
            g.data1 += i;
        else
            g.data4[7] = static_cast<uint8_t>(g.data4[7] + i);
        ids.push_back(g);
    }
    std::vector<std::unique_ptr<ScopedClassRegistration>> regs;
    for (size_t i = 0; i < ids.size(); ++i) {
        regs.push_back(std::make_unique<ScopedClassRegistration>(ids[i], Tagger(std::to_string(i))));
        for (size_t j = 0; j <= i; j += 7) EXPECT_EQ(LabelOf(ids[j]), std::to_string(j)) << i;
    }
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(LabelOf(ids[i]), std::to_string(i));
    regs.erase(regs.begin(), regs.begin() + 20);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i < 20) {
            EXPECT_FALSE(ClassTable::Instance().IsRegistered(ids[i]));
            EXPECT_THROW(LabelOf(ids[i]), ComError) << i;
        } else {
            EXPECT_EQ(LabelOf(ids[i]), std::to_string(i));
        }
    }
}

}  // namespace
}  // namespace crv
