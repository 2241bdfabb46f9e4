#pragma once
// A file replaced whole or not at all: written beside its destination under a hidden temporary
// name, flushed to disk, then renamed over the destination. A reader never sees half a file and
// a failure (a full disk, a kill) leaves the former file as it was. A destination that is a
// symbolic link has its target replaced, the link kept; temporary files that killed writers left
// beside the destination are removed. Only a regular file is ever replaced: a destination that is
// a device, a pipe or a folder is refused.

#include <filesystem>
#include <string>
#include <string_view>

namespace crv::support {

class AtomicFile {
public:
    // Creates the temporary file. `what` names the writer in fault-injection points
    // ("Document" gives "Document.Write" and "Document.Rename"). Throws FileWriteError.
    AtomicFile(const std::filesystem::path& destination, std::string what);
    ~AtomicFile();  // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::filesystem::path& Destination() const { return destination_; }
    // For writers that open a file by name themselves (the PDF and image writers).
    const std::filesystem::path& TempPath() const { return temp_; }

    // Appends to the temporary file. Throws FileWriteError.
    void Write(std::string_view text);
    // Flushes the temporary file to disk and renames it over the destination. Throws
    // FileWriteError and leaves the destination untouched on failure.
    void Commit();

private:
    // The fault-injection point `what_` + `step` ("Document" and ".Write"); an injected failure
    // is thrown as FileWriteError, "NAME: failure: why".
    void FaultPoint(const char* step, const std::string& name, const char* failure) const;

    std::filesystem::path destination_;
    std::filesystem::path target_;  // the destination with symbolic links followed
    std::filesystem::path temp_;
    std::string what_;
    int fd_ = -1;
    int lock_fd_ = -1;  // holds the temporary file's lock until it is renamed or removed
    bool committed_ = false;
};

// Throws FileWriteError, naming the file as `name`, when an existing file at `path` (links
// followed) has other names that a replacement would leave with the old content.
void RequireReplaceable(const std::filesystem::path& path, const std::string& name);

// Writes `text` as the whole new content of `destination`, atomically.
void WriteFileAtomically(const std::filesystem::path& destination, std::string_view text, std::string what);

}  // namespace crv::support
