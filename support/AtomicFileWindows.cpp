// A file replaced whole or not at all, on Windows: written beside its destination under a
// temporary name, flushed, then moved over the destination by the platform in one step. As on
// POSIX, only a regular file is replaced and a file with several names is refused.
#include "support/AtomicFile.h"

#include "support/Errors.h"
#include "support/MessageText.h"

#include <windows.h>

#include <string>

namespace crv::support {

namespace fs = std::filesystem;

namespace {

HANDLE Handle(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

std::string LastErrorText() {
    wchar_t* text = nullptr;
    const DWORD code = GetLastError();
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n > 0 ? fs::path(std::wstring(text, n)).string() : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
    return out;
}

}  // namespace

void RequireReplaceable(const fs::path& path, const std::string& name) {
    const HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;  // nothing there yet
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) return;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        throw FileWriteError(name + ": cannot replace it: not a regular file");
    if (info.nNumberOfLinks > 1) {
        throw FileWriteError(name + ": cannot replace it: it is one of " + std::to_string(info.nNumberOfLinks) +
                             " hard links to one file, and the others would keep the old content");
    }
}

AtomicFile::AtomicFile(const fs::path& destination, std::string what)
    : destination_(destination), target_(destination), what_(std::move(what)) {
    const std::string name = PlainOrQuoted(destination_.string());
    RequireReplaceable(target_, name);
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = folder / (L"." + target_.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(GetTickCount64() + static_cast<ULONGLONG>(attempt)));
        const HANDLE h = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            fd_ = static_cast<int>(reinterpret_cast<intptr_t>(h));
        } else if (GetLastError() != ERROR_FILE_EXISTS) {
            throw FileWriteError(name + ": cannot create a temporary file beside it: " + LastErrorText());
        }
    }
    if (fd_ < 0) throw FileWriteError(name + ": cannot create a temporary file beside it");
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) CloseHandle(Handle(fd_));
    if (!committed_) DeleteFileW(temp_.c_str());
}

void AtomicFile::Write(std::string_view text) {
    const std::string name = PlainOrQuoted(destination_.string());
    FaultPoint(".Write", name, "cannot write");
    while (!text.empty()) {
        const DWORD piece = text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(text.size());
        DWORD written = 0;
        if (!WriteFile(Handle(fd_), text.data(), piece, &written, nullptr) || written == 0)
            throw FileWriteError(name + ": cannot write: " + LastErrorText());
        text.remove_prefix(written);
    }
}

void AtomicFile::Commit() {
    const std::string name = PlainOrQuoted(destination_.string());
    if (!FlushFileBuffers(Handle(fd_))) throw FileWriteError(name + ": cannot flush to disk: " + LastErrorText());
    CloseHandle(Handle(fd_));
    fd_ = -1;
    FaultPoint(".Rename", name, "cannot replace the file");
    if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw FileWriteError(name + ": cannot replace the file: " + LastErrorText());
    committed_ = true;
}

}  // namespace crv::support
