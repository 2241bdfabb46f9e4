#include "standalone/support/AtomicFile.h"

#include "errors/ComError.h"
#include "standalone/support/Errors.h"
#include "standalone/support/Faults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace crv::standalone {

namespace fs = std::filesystem;

namespace {

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

}  // namespace

AtomicFile::AtomicFile(const fs::path& destination, std::string what)
    : destination_(destination), what_(std::move(what)) {
    const std::string name = destination_.string();
    std::string hidden = destination_.filename().string();
    hidden.insert(hidden.begin(), '.');
    hidden += ".XXXXXX";
    std::string temp = (FolderOf(destination_) / hidden).string();
    fd_ = ::mkstemp(temp.data());
    if (fd_ < 0) throw FileWriteError(name + ": cannot create a temporary file beside it: " + std::strerror(errno));
    temp_ = temp;
    // The replacement keeps the old file's permissions; a new file gets the usual ones.
    struct stat old {};
    if (::stat(name.c_str(), &old) == 0) {
        ::fchmod(fd_, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
}

void AtomicFile::Write(std::string_view text) {
    const std::string name = destination_.string();
    try {
        HostCall((what_ + ".Write").c_str());
    } catch (const ComError& e) {
        throw FileWriteError(name + ": cannot write: " + e.Description());
    }
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileWriteError(name + ": cannot write: " + std::strerror(errno));
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void AtomicFile::Commit() {
    const std::string name = destination_.string();
    // A writer that wrote by name (not through Write) has its data in the page cache only.
    if (::fsync(fd_) != 0) throw FileWriteError(name + ": cannot flush to disk: " + std::strerror(errno));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw FileWriteError(name + ": cannot close the temporary file: " + std::strerror(errno));
    try {
        HostCall((what_ + ".Rename").c_str());
    } catch (const ComError& e) {
        throw FileWriteError(name + ": cannot replace the file: " + e.Description());
    }
    if (std::rename(temp_.c_str(), name.c_str()) != 0) {
        throw FileWriteError(name + ": cannot replace the file: " + std::strerror(errno));
    }
    committed_ = true;
    // The rename itself reaches the disk only with its folder.
    if (const int dir = ::open(FolderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void WriteFileAtomically(const fs::path& destination, std::string_view text, std::string what) {
    AtomicFile file(destination, std::move(what));
    file.Write(text);
    file.Commit();
}

}  // namespace crv::standalone
