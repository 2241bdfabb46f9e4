#pragma once
// A library's version record: kept in a section of its own, so a tool can read it from the
// file without loading the library.

#include <cstdint>
#include <optional>
#include <string>

namespace crv {

inline constexpr uint32_t kVersionSelfRegister = 1;  // the library registers itself

struct VersionRecord {
    char magic[8];
    uint16_t major;
    uint16_t minor;
    uint16_t build;
    uint16_t revision;
    uint32_t flags;
    char name[32];
};

// The record of a library file, or nothing when it has none (or is no library).
std::optional<VersionRecord> ReadVersionRecord(const std::string& libraryPath);

}  // namespace crv
