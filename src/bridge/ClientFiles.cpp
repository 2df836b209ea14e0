#include "ClientFiles.h"

#include "platform/win32.h"

namespace bridge {
namespace {

struct Entry {
    const char *path;
    const char *resource;
    const char *contentType;
};

constexpr Entry kFiles[] = {
    {"/quillbay.js", "QUILLBAY.JS", "text/javascript; charset=utf-8"},
    {"/quillbay.d.ts", "QUILLBAY.D.TS", "application/typescript; charset=utf-8"},
    {"/IQuillDoc.d.ts", "IQUILLDOC.D.TS", "application/typescript; charset=utf-8"},
};

} // namespace

bool FindClientFile(std::string_view path, ClientFile &file) {
    for (const Entry &entry : kFiles) {
        if (path != entry.path)
            continue;
        HRSRC found = FindResourceA(nullptr, entry.resource, "CLIENT");
        HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
        const void *bytes = loaded ? LockResource(loaded) : nullptr;
        if (!bytes)
            return false;
        file.body = {static_cast<const char *>(bytes), SizeofResource(nullptr, found)};
        file.contentType = entry.contentType;
        return true;
    }
    return false;
}

} // namespace bridge
