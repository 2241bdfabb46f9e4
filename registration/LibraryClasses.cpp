#include "registration/LibraryClasses.h"

#include "CRVAnchorTypeLib.h"
#include "registration/CategoryClasses.h"

namespace crv {

namespace {

template <class I, class Automated>
ComPtr<Unknown> Make() {
    return ComPtr<Unknown>(MakeCom<I, Automated>());
}

}  // namespace

const std::vector<LibraryClass>& LibraryClasses() {
    static const std::vector<LibraryClass> classes = {
        {typelib::kClsidAnchorPropertyPage, typelib::kProgIdAnchorPropertyPage, NewAnchorPropertyPage},
        {typelib::kClsidCategoryInstall, typelib::kProgIdCategoryInstall,
         Make<_CategoryInstall, AutomatedCategoryInstall<CategoryInstall>>},
        {typelib::kClsidCategoryIDs, typelib::kProgIdCategoryIDs,
         Make<_CategoryIDs, AutomatedCategoryIDs<CategoryIDs>>},
        {typelib::kClsidCRVAnchorManager, typelib::kProgIdCRVAnchorManager,
         Make<_CRVAnchorManager, AutomatedCRVAnchorManager<CRVAnchorManager>>},
    };
    return classes;
}

void RegisterLibrary(Registry& registry, const std::string& library, const std::string& typeLibrary) {
    for (const auto& c : LibraryClasses()) {
        registry.RegisterClass({c.clsid, c.progid, library, "Apartment", typelib::kLibId, c.progid});
    }
    registry.RegisterTypeLib(
        {typelib::kLibId, typelib::kName, typelib::kMajor, typelib::kMinor, typeLibrary, typelib::kBorrowed});
}

void UnregisterLibrary(Registry& registry) {
    for (const auto& c : LibraryClasses()) registry.UnregisterClass(c.clsid);
    registry.UnregisterTypeLib(typelib::kLibId);
}

}  // namespace crv
