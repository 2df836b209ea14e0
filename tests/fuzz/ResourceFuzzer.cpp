// The resource reader on arbitrary bytes: as a module's file (the ELF
// section search, then the image in it) and as an image on its own. Every
// entry's data and every text is read through, as FindResourceA's and
// LoadStringA's callers read them.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/kernel/ElfSectionReader.h"
#include "platform/kernel/ResourceFormat.h"
#include "platform/kernel/ResourceIndex.h"

namespace {

unsigned Use(const platform::ResourceIndex &index) {
    unsigned sum = 0;
    for (const ResourceEntry &entry : index.Entries()) {
        for (DWORD i = 0; i < entry.size; ++i)
            sum += entry.data[i];
        sum += entry.typeName ? static_cast<unsigned>(strlen(entry.typeName)) : entry.typeId;
        sum += entry.name ? static_cast<unsigned>(strlen(entry.name)) : entry.nameId;
    }
    for (const ResourceString &text : index.Strings())
        sum += static_cast<unsigned>(strlen(text.utf8)) + text.id;
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static volatile unsigned sink;
    platform::MemoryBytes file(data, size);
    std::vector<unsigned char> section;
    if (platform::ElfSectionReader(file).Read(resource_format::kResourceSection, 1u << 20,
                                              section)) {
        platform::ResourceIndex index;
        if (index.Adopt(std::move(section)))
            sink = Use(index);
    }
    // The image read in place, as a loaded module's is: a copy of exactly
    // the input's size, so any read past it is seen.
    std::vector<unsigned char> image(data, data + size);
    platform::ResourceIndex index;
    if (index.Read(image.data(), image.size()))
        sink = Use(index);
    return 0;
}
