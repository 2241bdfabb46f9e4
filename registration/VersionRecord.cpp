#include "registration/VersionRecord.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace crv {

namespace {

// Reads exactly size bytes at offset; false past the end of the file.
bool ReadAt(std::ifstream& in, uint64_t offset, void* out, uint64_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    return in.good() || (in.eof() && static_cast<uint64_t>(in.gcount()) == size);
}

}  // namespace

std::optional<VersionRecord> ReadVersionRecord(const std::string& libraryPath) {
    // Only the headers and the two sections needed are read: a library with debug
    // information can be large.
    std::ifstream in(libraryPath, std::ios::binary);
    if (!in) return std::nullopt;
    Elf64_Ehdr eh{};
    if (!ReadAt(in, 0, &eh, sizeof eh)) return std::nullopt;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return std::nullopt;
    if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum) return std::nullopt;
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    if (!ReadAt(in, eh.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) return std::nullopt;
    const Elf64_Shdr& names = sections[eh.e_shstrndx];
    if (names.sh_size > (1u << 24)) return std::nullopt;
    std::vector<char> strings(names.sh_size + 1, '\0');
    if (!ReadAt(in, names.sh_offset, strings.data(), names.sh_size)) return std::nullopt;
    for (const Elf64_Shdr& sh : sections) {
        if (sh.sh_name >= names.sh_size || std::strcmp(strings.data() + sh.sh_name, ".crv_version") != 0) continue;
        VersionRecord record{};
        if (sh.sh_size < sizeof record || !ReadAt(in, sh.sh_offset, &record, sizeof record)) return std::nullopt;
        if (std::memcmp(record.magic, "CRVVERS", 8) != 0) return std::nullopt;
        record.name[sizeof record.name - 1] = '\0';
        return record;
    }
    return std::nullopt;
}

}  // namespace crv
