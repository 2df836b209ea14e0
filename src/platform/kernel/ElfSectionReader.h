// ElfSectionReader: the contents of one named section of an ELF file (the
// System V gABI's ELF-64 object file format), found through the file's
// section header table. The file is read through a ByteSource, so the same
// reader serves a module's file on disk and bytes in memory; every offset
// and size the file gives is checked against the file's size before it is
// read, and nothing of the file is executed or mapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// Bytes of a file read at an offset.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Fills buffer with the size bytes at offset; false when not all of them
    // could be read.
    virtual bool ReadAt(uint64_t offset, void *buffer, size_t size) const = 0;
};

// A ByteSource over bytes in memory.
class MemoryBytes : public ByteSource {
public:
    MemoryBytes(const void *data, size_t size) : m_data(data), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void *buffer, size_t size) const override;

private:
    const void *m_data;
    size_t m_size;
};

class ElfSectionReader {
public:
    explicit ElfSectionReader(const ByteSource &file) : m_file(file) {}

    // The contents of the first section called name that holds bytes in the
    // file (not SHT_NOBITS), at most limit of them. False when the file is
    // not a 64-bit little-endian ELF file, has no such section, or the
    // section is larger than the limit or reaches past the file's end.
    bool Read(const char *name, size_t limit, std::vector<unsigned char> &contents) const;

private:
    struct Section {
        uint32_t name;
        uint32_t type;
        uint64_t offset;
        uint64_t size;
    };

    bool ReadSections(std::vector<Section> &sections, uint32_t &namesIndex) const;
    bool ReadBytes(uint64_t offset, uint64_t size, size_t limit,
                   std::vector<unsigned char> &bytes) const;

    const ByteSource &m_file;
};

} // namespace platform
