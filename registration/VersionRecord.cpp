#include "registration/VersionRecord.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace crv {

std::optional<VersionRecord> ReadVersionRecord(const std::string& libraryPath) {
    std::ifstream in(libraryPath, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto fits = [&](uint64_t off, uint64_t size) { return off <= file.size() && size <= file.size() - off; };
    Elf64_Ehdr eh{};
    if (!fits(0, sizeof eh)) return std::nullopt;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return std::nullopt;
    if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shstrndx >= eh.e_shnum) return std::nullopt;
    auto section = [&](uint16_t i, Elf64_Shdr& sh) {
        const uint64_t off = eh.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr);
        if (!fits(off, sizeof sh)) return false;
        std::memcpy(&sh, file.data() + off, sizeof sh);
        return true;
    };
    Elf64_Shdr names{};
    if (!section(eh.e_shstrndx, names) || !fits(names.sh_offset, names.sh_size)) return std::nullopt;
    for (uint16_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh{};
        if (!section(i, sh) || sh.sh_name >= names.sh_size) continue;
        const char* name = file.data() + names.sh_offset + sh.sh_name;
        const size_t room = names.sh_size - sh.sh_name;
        if (strnlen(name, room) == room || std::strcmp(name, ".crv_version") != 0) continue;
        VersionRecord record{};
        if (sh.sh_size < sizeof record || !fits(sh.sh_offset, sizeof record)) return std::nullopt;
        std::memcpy(&record, file.data() + sh.sh_offset, sizeof record);
        if (std::memcmp(record.magic, "CRVVERS", 8) != 0) return std::nullopt;
        record.name[sizeof record.name - 1] = '\0';
        return record;
    }
    return std::nullopt;
}

}  // namespace crv
