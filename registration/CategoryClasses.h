#pragma once
// CategoryInstall enters the property page into the host's category of element property
// pages; CategoryIDs hands out the identifiers of the host's component categories.

#include "CRVAnchorTypeLib.h"

#include <string>

namespace crv {

class CategoryIDs : public CategoryIDsProperties {
public:
    ComPtr<HostUID> MakeUID(const std::string& ProgID_or_IID) override;
};

class CategoryInstall : public ComObject<_CategoryInstall> {
public:
    std::string ErrorMessage() override { return error_message_; }
    // Returns 0, or the number of the error that stopped it (whose text is then ErrorMessage).
    // Shows nothing.
    int32_t Install(bool bInstall, const std::string& sCustomOptions) override;

private:
    std::string error_message_;
};

// The library file this code was loaded from: its folder, the platform's separator and its real
// file name.
std::string LibraryFilePath();

}  // namespace crv
