// Reading a resource image: every word is read byte by byte (no alignment
// is assumed of an image read from a file), every offset is checked against
// the image's size before it is used, and the names and texts must end
// inside the image.
#include "ResourceIndex.h"

#include <cstdint>
#include <cstring>

#include "ResourceFormat.h"

namespace platform {
namespace {

using namespace resource_format;

uint32_t Word(const unsigned char *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

uint32_t WordOf(const unsigned char *record, uint32_t index) {
    return Word(record + 4 * index);
}

// The NUL-terminated text at an offset, or null when it does not end
// inside the image. Offset 0 (the header) stands for "no text".
const char *TextAt(const unsigned char *image, size_t size, uint32_t offset, bool &ok) {
    if (offset == 0)
        return nullptr;
    if (offset < kHeaderSize || offset >= size ||
        !memchr(image + offset, 0, size - static_cast<size_t>(offset))) {
        ok = false;
        return nullptr;
    }
    return reinterpret_cast<const char *>(image + offset);
}

} // namespace

bool ResourceIndex::Read(const unsigned char *image, size_t size) {
    Clear();
    if (!image || size < kHeaderSize || WordOf(image, kHMagic) != kMagic ||
        WordOf(image, kHVersion) != kVersion)
        return false;
    const uint32_t imageSize = WordOf(image, kHImageSize);
    if (imageSize < kHeaderSize || imageSize > size)
        return false;
    // The records must fit between the header and the image's end; the
    // sums are taken in 64 bits, so no count can wrap them.
    const uint64_t entries = WordOf(image, kHEntryCount);
    const uint64_t strings = WordOf(image, kHStringCount);
    if (kHeaderSize + entries * kEntrySize + strings * kStringSize > imageSize)
        return false;
    const size_t first = kHeaderSize + static_cast<size_t>(entries) * kEntrySize;
    if (!ReadEntries(image, imageSize, static_cast<size_t>(entries)) ||
        !ReadStrings(image, imageSize, first, static_cast<size_t>(strings))) {
        Clear();
        return false;
    }
    m_image = image;
    return true;
}

size_t ResourceIndex::DeclaredSize(const unsigned char *image) {
    return image && WordOf(image, kHMagic) == kMagic ? WordOf(image, kHImageSize) : 0;
}

bool ResourceIndex::Adopt(std::vector<unsigned char> image) {
    Clear();
    m_owned = std::move(image);
    if (Read(m_owned.data(), m_owned.size()))
        return true;
    m_owned.clear();
    return false;
}

bool ResourceIndex::ReadEntries(const unsigned char *image, size_t size, size_t count) {
    m_entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *record = image + kHeaderSize + i * kEntrySize;
        const uint32_t typeId = WordOf(record, kETypeId), nameId = WordOf(record, kENameId);
        const uint32_t data = WordOf(record, kEData), dataSize = WordOf(record, kEDataSize);
        bool ok = typeId <= 0xFFFF && nameId <= 0xFFFF;
        const char *typeName = TextAt(image, size, WordOf(record, kETypeName), ok);
        const char *name = TextAt(image, size, WordOf(record, kEName), ok);
        if (!ok || data > size || dataSize > size - data)
            return false;
        m_entries.push_back(ResourceEntry{typeName, static_cast<WORD>(typeId), name,
                                          static_cast<WORD>(nameId), image + data, dataSize});
    }
    return true;
}

bool ResourceIndex::ReadStrings(const unsigned char *image, size_t size, size_t first,
                                size_t count) {
    m_strings.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *record = image + first + i * kStringSize;
        bool ok = true;
        const char *text = TextAt(image, size, WordOf(record, kSText), ok);
        if (!ok || !text)
            return false;
        m_strings.push_back(ResourceString{WordOf(record, kSId), text});
    }
    return true;
}

void ResourceIndex::Clear() {
    m_image = nullptr;
    m_entries.clear();
    m_strings.clear();
}

} // namespace platform
