// A program built on the object runtime alone, without the COM boundary: its own classes are
// created as in any program, but a class of another module cannot be, and the error says why
// instead of passing for a class nobody registered, which the engine takes for an optional
// companion that is not installed.
#include "host/HostClasses.h"
#include "windows/platform/Guids.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>
#include <objbase.h>

#include <functional>

namespace crv {
namespace {

class PlainUID final : public ComObject<HostUID> {
public:
    void SetValue(const std::string& value) override { value_ = value; }
    std::string Value() override { return value_; }

private:
    std::string value_;
};

TEST(RuntimeAlone, CreatesItsOwnClassesAndRefusesThoseOfOtherModulesSayingWhy) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        const ScopedClassRegistration own(clsid::HostUID, [] { return ComPtr<Unknown>(MakeCom<HostUID, PlainUID>()); });
        EXPECT_TRUE(NewHostUID());
    }
    struct Case {
        const char* what;
        std::function<void()> create;
    };
    for (const Case& c : {Case{"a class the platform serves",
                               [] { CreateObject<Unknown>(win::FromGUID(CLSID_StdComponentCategoriesMgr)); }},
                          Case{"a companion", [] { CompanionOrNothing(NewActiveLayoutInfo); }}}) {
        SCOPED_TRACE(c.what);
        try {
            c.create();
            ADD_FAILURE() << "created, or taken for a class nobody registered";
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number(), hresult::kClassNotAvailable);
            EXPECT_NE(e.Description().find("without the COM boundary"), std::string::npos) << e.Description();
        }
    }
    CoUninitialize();
}

}  // namespace
}  // namespace crv
