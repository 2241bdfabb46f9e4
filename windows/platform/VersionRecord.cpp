// A library's version record as the platform keeps it: the version resource, whose fixed part
// holds the version and whose strings say whether the library registers itself.
#include "registration/VersionRecord.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace crv {

std::optional<VersionRecord> ReadVersionRecord(const std::string& libraryPath) {
    const std::wstring path = win::Wide(libraryPath);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    VersionRecord record{};
    std::memcpy(record.magic, "CRVVERS", 8);
    record.major = HIWORD(fixed->dwFileVersionMS);
    record.minor = LOWORD(fixed->dwFileVersionMS);
    record.build = HIWORD(fixed->dwFileVersionLS);
    record.revision = LOWORD(fixed->dwFileVersionLS);
    // The strings of the first language the resource has.
    struct Translation {
        WORD language;
        WORD codepage;
    }* translations = nullptr;
    UINT translationSize = 0;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &translationSize) &&
        translationSize >= sizeof(Translation)) {
        wchar_t prefix[64];
        swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translations->language, translations->codepage);
        auto text = [&](const wchar_t* key) -> std::optional<std::wstring> {
            wchar_t* value = nullptr;
            UINT length = 0;
            if (!VerQueryValueW(data.data(), (std::wstring(prefix) + key).c_str(), reinterpret_cast<void**>(&value),
                                &length)) {
                return std::nullopt;
            }
            return std::wstring(value, length > 0 ? length - 1 : 0);
        };
        if (text(L"OLESelfRegister")) record.flags |= kVersionSelfRegister;
        if (auto name = text(L"InternalName")) {
            const std::string narrow = win::Narrow(*name);
            std::memcpy(record.name, narrow.data(), std::min(narrow.size(), sizeof record.name - 1));
        }
    }
    return record;
}

}  // namespace crv
