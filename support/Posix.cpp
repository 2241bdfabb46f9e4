// What the commands ask the POSIX system: files' identity by device and inode, and output
// folders.
#include "support/FileIdentity.h"

#include "support/Errors.h"
#include "support/MessageText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <system_error>

namespace crv::support {

namespace fs = std::filesystem;

fs::path WithoutTrailingSlash(const fs::path& p) {
    fs::path q = p.lexically_normal();
    return !q.has_filename() && q.has_parent_path() ? q.parent_path() : q;
}

FileIdentity IdentityOf(const fs::path& path) {
    const fs::path p = WithoutTrailingSlash(path);
    FileIdentity id;
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
        id.exists = true;
        id.regular = S_ISREG(st.st_mode);
        id.folder = S_ISDIR(st.st_mode);
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(fs::absolute(p.has_parent_path() ? p.parent_path() : fs::path("."), ec), ec);
    id.future = (folder / p.filename()).lexically_normal().string();
    return id;
}

void MakeOutputFolder(const std::string& option, const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        throw FileWriteError((option.empty() ? "" : option + " ") + QuotedValue(folder.string()) +
                             ": cannot create the folder: " + ec.message());
    }
}

}  // namespace crv::support
