// The layout of a resource image: the flat table of a module's resources
// that the resource compiler writes and the kernel reads, both from a loaded
// module and from a module's file read as data.
//
// An image holds no addresses, only offsets from its own start, so the same
// bytes serve in memory and on disk. Every number is a 32-bit little-endian
// word. The image lies in the module's section kResourceSection; the kernel
// finds it there in the file without loading the module.
//
//   header   kHeaderSize bytes: magic, version, image size, entry count,
//            string count, three reserved words (0)
//   entries  kEntrySize bytes each: type number, type name offset, name
//            number, name offset, data offset, data size
//   strings  kStringSize bytes each: string number, text offset
//   then the NUL-terminated names and texts (UTF-8) and the data, each
//   resource's data aligned to kDataAlignment from the image's start.
//
// A name offset of 0 means the type or the name is a number (offset 0 is
// the header, never a name).
#pragma once

#include <cstdint>

namespace resource_format {

constexpr uint32_t kMagic = 0x53455251; // "QRES" in the file's byte order
constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kEntrySize = 24;
constexpr uint32_t kStringSize = 8;
constexpr uint32_t kDataAlignment = 8;
// The section's name is a C identifier, so the linker keeps it whole and
// gives it start and stop symbols.
constexpr const char *kResourceSection = "quillbay_resources";

// Word offsets inside the header, an entry and a string record.
enum HeaderWord : uint32_t { kHMagic, kHVersion, kHImageSize, kHEntryCount, kHStringCount };
enum EntryWord : uint32_t { kETypeId, kETypeName, kENameId, kEName, kEData, kEDataSize };
enum StringWord : uint32_t { kSId, kSText };

} // namespace resource_format
