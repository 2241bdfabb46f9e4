#include "support/AtomicFile.h"

#include "support/Errors.h"
#include "support/MessageText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace crv::support {

namespace fs = std::filesystem;

namespace {

fs::path FolderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

// Where writing to `path` really lands. A symbolic link is followed to its target (which need not
// exist yet): renaming over the link itself would replace the link and leave its target as it was.
fs::path FinalTarget(const fs::path& path, const std::string& name) {
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) throw FileWriteError(name + ": cannot read the symbolic link: " + ec.message());
        p = link.is_absolute() ? link : FolderOf(p) / link;
    }
    throw FileWriteError(name + ": " + std::strerror(ELOOP));
}

// The temporary files of saves that were killed: our naming exactly (".NAME." and mkstemp's six
// characters), regular files of ours, not touched for a while, and not locked by a writer still at
// work (every writer holds a lock on its temporary file until it is renamed or removed).
constexpr time_t kStaleSeconds = 10;

bool IsTempNameOf(const std::string& entry, const std::string& base) {
    if (entry.size() != base.size() + 8 || entry[0] != '.' || entry.compare(1, base.size(), base) != 0 ||
        entry[base.size() + 1] != '.') {
        return false;
    }
    for (size_t i = base.size() + 2; i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

void RemoveStaleTemps(const fs::path& target, const fs::path& own) {
    const std::string base = target.filename().string();
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path candidate = it->path();
        if (!IsTempNameOf(candidate.filename().string(), base) || candidate.filename() == own.filename()) continue;
        const int fd = ::open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        struct stat now {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            std::time(nullptr) - st.st_mtime >= kStaleSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(candidate.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev) {
            ::unlink(candidate.c_str());
        }
        ::close(fd);
    }
}

// A rename over a device, a pipe or a folder would put a regular file where the system or
// another program expects that thing (as root, /dev/full would become a file): whatever asked
// for the write, only a regular file, or nothing, is replaced.
void RequireRegularTarget(const fs::path& target, const std::string& name) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw FileWriteError(name + ": cannot replace it: not a regular file");
}

}  // namespace

void RequireReplaceable(const fs::path& path, const std::string& name) {
    // A new file renamed over a name leaves the file's other names with the old content, so a
    // file with several names is refused rather than parted from them without a word.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && existing.st_nlink > 1) {
        throw FileWriteError(name + ": cannot replace it: it is one of " + std::to_string(existing.st_nlink) +
                             " hard links to one file, and the others would keep the old content");
    }
}

AtomicFile::AtomicFile(const fs::path& destination, std::string what)
    : destination_(destination), what_(std::move(what)) {
    const std::string name = PlainOrQuoted(destination_.string());
    target_ = FinalTarget(destination_, name);
    RequireRegularTarget(target_, name);
    RequireReplaceable(target_, name);
    std::string hidden = target_.filename().string();
    hidden.insert(hidden.begin(), '.');
    hidden += ".XXXXXX";
    std::string temp = (FolderOf(target_) / hidden).string();
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) throw FileWriteError(name + ": cannot create a temporary file beside it: " + std::strerror(errno));
    temp_ = temp;
    // Tells a later save that this file is being written, not left by a killed one. Held on a
    // descriptor of its own, so that closing the written one before the rename keeps it.
    lock_fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (lock_fd_ >= 0) ::flock(lock_fd_, LOCK_EX | LOCK_NB);
    RemoveStaleTemps(target_, temp_);
    // The replacement keeps the old file's permissions; a new file gets the usual ones.
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0) {
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
    if (lock_fd_ >= 0) ::close(lock_fd_);
}

void AtomicFile::Write(std::string_view text) {
    const std::string name = PlainOrQuoted(destination_.string());
    FaultPoint(".Write", name, "cannot write");
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
    const std::string name = PlainOrQuoted(destination_.string());
    // A writer that wrote by name (not through Write) has its data in the page cache only.
    if (::fsync(fd_) != 0) throw FileWriteError(name + ": cannot flush to disk: " + std::strerror(errno));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw FileWriteError(name + ": cannot close the temporary file: " + std::strerror(errno));
    FaultPoint(".Rename", name, "cannot replace the file");
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        throw FileWriteError(name + ": cannot replace the file: " + std::strerror(errno));
    }
    committed_ = true;
    // The rename itself reaches the disk only with its folder.
    if (const int dir = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace crv::support
