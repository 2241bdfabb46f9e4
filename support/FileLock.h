#pragma once
// An advisory lock on a file that is read, changed and saved again, held from the read to the
// save: two tools changing the same file one after the other both keep their change, where
// two unlocked ones would each save over the other's.

#include <filesystem>
#include <string>

namespace crv::support {

class FileLock {
public:
    // Waits for the lock on the file `path` names now. `name` is how messages show the file.
    // Throws FileWriteError when the file cannot be opened or locked.
    FileLock(const std::filesystem::path& path, const std::string& name);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace crv::support
