// The files pages fetch from the bridge: the JavaScript client and its
// TypeScript declarations, carried as resources of the bridge itself.
#pragma once

#include <string_view>

namespace bridge {

struct ClientFile {
    std::string_view body;
    const char *contentType;
};

// The file served at `path` ("/quillbay.js", "/quillbay.d.ts",
// "/IQuillDoc.d.ts"); false for any other path.
bool FindClientFile(std::string_view path, ClientFile &file);

} // namespace bridge
