// The host's category registrar: enters a registered class into a component category of the
// registry, or takes it out, the way a host's own category manager does.
#include "standalone/host/Objects.h"

#include "com/Registry.h"

#include <filesystem>

namespace crv::standalone {

void CategoryRegistrarImpl::Setup(const std::string& libraryPath, const ComPtr<HostUID>& classId,
                                  const ComPtr<HostUID>& categoryId, bool install) {
    HostCall("CategoryRegistrar.Setup");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(libraryPath, ec)) {
        Raise(hresult::kModuleNotFound, "CategoryRegistrar.Setup", "The library " + libraryPath + " does not exist.");
    }
    if (!classId || !categoryId)
        Raise(hresult::kPointer, "CategoryRegistrar.Setup", "A class and a category are required.");
    Registry registry;
    const std::string cls = classId->Value();
    std::optional<Guid> clsid = Guid::Parse(cls);
    if (!clsid) clsid = registry.ClsidFromProgId(cls);
    if (!clsid) Raise(hresult::kClassNotRegistered, "CategoryRegistrar.Setup", "Class not registered: " + cls + ".");
    const std::string cat = categoryId->Value();
    const std::optional<Guid> category = Guid::Parse(cat);
    if (!category) Raise(hresult::kInvalidArg, "CategoryRegistrar.Setup", "Not a category identifier: " + cat + ".");
    if (install) {
        registry.AddClassToCategory(*category, *clsid);
    } else {
        registry.RemoveClassFromCategory(*category, *clsid);
    }
}

}  // namespace crv::standalone
