// Finding a named section of an ELF-64 file: the header, the section header
// table (with the extended numbering the gABI gives files of 65280 or more
// sections), the section name string table, then the section itself.
#include "ElfSectionReader.h"

#include <bit>
#include <cstring>
#include <elf.h>

namespace platform {
namespace {

// More sections than any linker makes for a module; a file that claims
// more is not read further.
constexpr uint64_t kMaxSections = 1u << 20;
// The section names of a module fit in far less.
constexpr size_t kMaxNameTable = 16u << 20;

} // namespace

bool MemoryBytes::ReadAt(uint64_t offset, void *buffer, size_t size) const {
    if (offset > m_size || size > m_size - offset)
        return false;
    if (size)
        memcpy(buffer, static_cast<const unsigned char *>(m_data) + offset, size);
    return true;
}

bool ElfSectionReader::ReadBytes(uint64_t offset, uint64_t size, size_t limit,
                                 std::vector<unsigned char> &bytes) const {
    const uint64_t fileSize = m_file.Size();
    if (size > limit || offset > fileSize || size > fileSize - offset)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return m_file.ReadAt(offset, bytes.data(), bytes.size());
}

bool ElfSectionReader::ReadSections(std::vector<Section> &sections, uint32_t &namesIndex) const {
    // The structures are read as this machine lays them out: only files of
    // its own byte order are accepted.
    if constexpr (std::endian::native != std::endian::little)
        return false;
    Elf64_Ehdr header;
    if (!m_file.ReadAt(0, &header, sizeof header) || memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shoff == 0)
        return false;
    uint64_t count = header.e_shnum;
    namesIndex = header.e_shstrndx;
    if (count == 0 || namesIndex == SHN_XINDEX) {
        // Extended numbering: the real values are in section 0's header.
        Elf64_Shdr first;
        if (!m_file.ReadAt(header.e_shoff, &first, sizeof first))
            return false;
        if (count == 0)
            count = first.sh_size;
        if (namesIndex == SHN_XINDEX)
            namesIndex = first.sh_link;
    }
    const uint64_t fileSize = m_file.Size();
    if (count == 0 || count > kMaxSections || namesIndex >= count || header.e_shoff > fileSize ||
        count > (fileSize - header.e_shoff) / sizeof(Elf64_Shdr))
        return false;
    std::vector<unsigned char> table;
    if (!ReadBytes(header.e_shoff, count * sizeof(Elf64_Shdr), SIZE_MAX, table))
        return false;
    sections.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < sections.size(); ++i) {
        Elf64_Shdr entry;
        memcpy(&entry, table.data() + i * sizeof entry, sizeof entry);
        sections[i] = Section{entry.sh_name, entry.sh_type, entry.sh_offset, entry.sh_size};
    }
    return true;
}

bool ElfSectionReader::Read(const char *name, size_t limit,
                            std::vector<unsigned char> &contents) const {
    contents.clear();
    std::vector<Section> sections;
    uint32_t namesIndex = 0;
    if (!name || !ReadSections(sections, namesIndex))
        return false;
    const Section &namesSection = sections[namesIndex];
    std::vector<unsigned char> names;
    if (namesSection.type != SHT_STRTAB ||
        !ReadBytes(namesSection.offset, namesSection.size, kMaxNameTable, names))
        return false;
    const size_t wanted = strlen(name) + 1; // the name with its terminator
    for (const Section &section : sections) {
        if (section.type == SHT_NOBITS || section.type == SHT_NULL ||
            section.name >= names.size() || names.size() - section.name < wanted ||
            memcmp(names.data() + section.name, name, wanted) != 0)
            continue;
        if (ReadBytes(section.offset, section.size, limit, contents))
            return true;
        contents.clear();
        return false;
    }
    return false;
}

} // namespace platform
