#pragma once
// Which file a path names, whatever its spelling, and the output folders a command makes.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace crv::support {

// Which file a path names, so that two paths can be told to be one file whatever their
// spelling: device and inode of a file that exists; the canonical folder and the name of one
// still to be made.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    bool folder = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string future;

    bool operator==(const FileIdentity& o) const {
        if (exists != o.exists) return false;
        return exists ? device == o.device && inode == o.inode : future == o.future;
    }
};

std::filesystem::path WithoutTrailingSlash(const std::filesystem::path& p);
FileIdentity IdentityOf(const std::filesystem::path& path);

// Makes an output folder and the folders above it. Throws FileWriteError with one line naming
// the option and the folder: `--png "out/png": cannot create the folder: Permission denied`.
void MakeOutputFolder(const std::string& option, const std::filesystem::path& folder);

}  // namespace crv::support
