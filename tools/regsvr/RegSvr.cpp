// quillbay-regsvr: registers or unregisters an in-process server module.
//
//   quillbay-regsvr [/u] [/s] MODULE
//
// Loads the module and calls its DllRegisterServer (or, with /u,
// DllUnregisterServer); /s prints nothing on success.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32.h"

int main(int argc, char **argv) {
    bool unregister = false, silent = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "/u" || arg == "-u")
            unregister = true;
        else if (arg == "/s" || arg == "-s")
            silent = true;
        else if (!path)
            path = argv[i];
        else
            path = nullptr, i = argc;
    }
    if (!path) {
        fprintf(stderr, "usage: quillbay-regsvr [/u] [/s] MODULE\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        fprintf(stderr, "quillbay-regsvr: cannot load %s (error %u)\n", path, GetLastError());
        return 3;
    }
    const char *entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = reinterpret_cast<LPFNREGISTERSERVER>(
        reinterpret_cast<void *>(GetProcAddress(module, entry)));
    if (!call) {
        fprintf(stderr, "quillbay-regsvr: %s has no %s\n", path, entry);
        FreeLibrary(module);
        return 4;
    }
    HRESULT hr = call();
    FreeLibrary(module);
    if (FAILED(hr)) {
        fprintf(stderr, "quillbay-regsvr: %s in %s failed: 0x%08X\n", entry, path,
                static_cast<unsigned>(hr));
        return 5;
    }
    if (!silent)
        printf("%s in %s succeeded.\n", entry, path);
    return 0;
}
