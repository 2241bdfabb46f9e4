#include "windows/platform/PlatformClasses.h"

#include "com/Registry.h"
#include "host/HostClasses.h"
#include "windows/platform/Guids.h"
#include "windows/platform/Text.h"

#include <windows.h>
#include <objbase.h>

namespace crv::win {

namespace {

class PlatformUID final : public ComObject<HostUID> {
public:
    void SetValue(const std::string& value) override { value_ = value; }
    std::string Value() override { return value_; }

private:
    std::string value_;
};

// A class named by its GUID text or by its programmatic identifier.
Guid ClassOf(const std::string& text) {
    if (auto g = Guid::Parse(text)) return *g;
    CLSID clsid;
    const std::wstring wide = Wide(text);
    if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) {
        Raise(hresult::kInvalidClassString, "CategoryRegistrar.Setup", "Invalid class string: " + text);
    }
    return FromGUID(clsid);
}

class PlatformCategoryRegistrar final : public ComObject<CategoryRegistrar> {
public:
    void Setup(const std::string& /*libraryPath: the platform finds the class by its id*/,
               const ComPtr<HostUID>& classId, const ComPtr<HostUID>& categoryId, bool install) override {
        const Guid clsid = ClassOf(classId->Value());
        const auto category = Guid::Parse(categoryId->Value());
        if (!category) {
            Raise(hresult::kInvalidClassString, "CategoryRegistrar.Setup",
                  "Invalid category identifier: " + categoryId->Value());
        }
        // Where the class itself is registered: for one user or for the machine.
        Registry registry(Registry::DefaultPath());
        if (install) {
            registry.AddClassToCategory(*category, clsid);
        } else {
            registry.RemoveClassFromCategory(*category, clsid);
        }
    }
};

}  // namespace

ComPtr<Unknown> NewPlatformObject(const Guid& clsid) {
    if (clsid == clsid::HostUID) return ComPtr<Unknown>(MakeCom<HostUID, PlatformUID>());
    if (clsid == clsid::CategoryRegistrar) {
        return ComPtr<Unknown>(MakeCom<CategoryRegistrar, PlatformCategoryRegistrar>());
    }
    return {};
}

}  // namespace crv::win
