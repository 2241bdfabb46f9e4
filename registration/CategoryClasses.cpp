#include "registration/CategoryClasses.h"

#include "errors/ErrorHandling.h"

namespace crv {

ComPtr<HostUID> CategoryIDs::MakeUID(const std::string& ProgID_or_IID) {
    ComPtr<HostUID> uid = NewHostUID();
    uid->SetValue(ProgID_or_IID);
    return uid;
}

int32_t CategoryInstall::Install(bool bInstall, const std::string& /*sCustomOptions: accepted, not used*/) {
    error_message_.clear();
    try {
        const std::string path = LibraryFilePath();
        const ComPtr<CategoryRegistrar> registrar = NewCategoryRegistrar();
        const ComPtr<_CategoryIDs> ids = MakeCom<_CategoryIDs, AutomatedCategoryIDs<CategoryIDs>>();
        const ComPtr<HostUID> classId = ids->MakeUID(typelib::kProgIdAnchorPropertyPage);
        const ComPtr<HostUID> categoryId = ids->ElementPropertyPages();
        registrar->Setup(path, classId, categoryId, bInstall);
        return 0;
    } catch (...) {
        const ComError e = CurrentErrorAsComError(std::current_exception());
        error_message_ = e.Description();
        return e.Number() != 0 ? e.Number() : hresult::kFail;
    }
}

}  // namespace crv
