#pragma once
// A library's version record: kept in a section of its own, so a tool can read it from the
// file without loading the library.

#include <cstdint>
#include <optional>
#include <string>

namespace crv {

inline constexpr uint32_t kVersionSelfRegister = 1;  // the library registers itself
// Its page is built on Qt 5: only such a library may be loaded into a Qt 5 process (QGIS), where
// another toolkit's libraries would load beside the process's own.
inline constexpr uint32_t kVersionQt5 = 2;

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
