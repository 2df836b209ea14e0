// ResourceIndex: the entries and strings of one resource image
// (ResourceFormat.h), read with every offset and count checked against the
// image's size, so an image from a file of any content gives either a whole
// index or none.
#pragma once

#include <cstddef>
#include <vector>

#include "ResourceTable.h"

namespace platform {

class ResourceIndex {
public:
    // Reads the image at `image`, of at most `size` bytes, in place: the
    // index points into it, and the image must outlive it. False, with the
    // index empty, when the bytes are not a well-formed image.
    bool Read(const unsigned char *image, size_t size);
    // Reads an image the index keeps for itself (a module's file read as data).
    bool Adopt(std::vector<unsigned char> image);
    // The size an image's header declares (0 without a header), for an image
    // in a loaded module's memory, whose end nothing else tells.
    static size_t DeclaredSize(const unsigned char *image);

    const unsigned char *Image() const { return m_image; }

    const std::vector<ResourceEntry> &Entries() const { return m_entries; }
    const std::vector<ResourceString> &Strings() const { return m_strings; }

private:
    bool ReadEntries(const unsigned char *image, size_t size, size_t count);
    bool ReadStrings(const unsigned char *image, size_t size, size_t first, size_t count);
    void Clear();

    const unsigned char *m_image = nullptr;
    std::vector<unsigned char> m_owned;
    std::vector<ResourceEntry> m_entries;
    std::vector<ResourceString> m_strings;
};

} // namespace platform
