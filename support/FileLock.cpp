#include "support/FileLock.h"

#include "support/Errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace crv::support {

FileLock::FileLock(const std::filesystem::path& path, const std::string& name) {
    while (true) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) throw FileWriteError(name + ": cannot open: " + std::strerror(errno));
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd_);
                fd_ = -1;
                throw FileWriteError(name + ": cannot lock: " + std::strerror(error));
            }
        }
        // A save renames a new file over the old one: the lock must be on the file the path
        // names now, else the one who held it has replaced it meanwhile.
        struct stat held {};
        struct stat now {};
        if (::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &now) == 0 && held.st_ino == now.st_ino &&
            held.st_dev == now.st_dev) {
            return;
        }
        ::close(fd_);
        fd_ = -1;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace crv::support
