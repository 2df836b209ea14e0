// quillbay-regsvr: registers or unregisters an in-process server module.
//
//   quillbay-regsvr [/u] [/s] MODULE
//
// Loads the module and calls its DllRegisterServer (or, with /u,
// DllUnregisterServer); /s prints nothing on success. Run by root, the
// registration is the machine's, for every user; run by a user, it is that
// user's own and wins over the machine's. Registering also registers the
// platform's own component servers that lie beside the platform library
// (the data access objects, msado15.so), as an installed system has its
// components registered before any program's.
#include <cstdio>
#include <cstring>
#include <string>

#include "ToolOptions.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"

namespace {

const tool_options::ToolInfo kTool = {
    "quillbay-regsvr", "usage: quillbay-regsvr [/u] [/s] MODULE\n",
    "Registers an in-process server module (calls its DllRegisterServer), or\n"
    "unregisters it with /u (DllUnregisterServer). Run by root, the module is\n"
    "registered for every user of the machine; run by a user, for that user.\n"
    "\n"
    "  /u, -u      unregister\n"
    "  /s, -s      print nothing on success\n"
    "  --help      print this help\n"
    "  --version   print the version\n"};

int Failed(const char *entry, const char *path, HRESULT hr, bool unregister) {
    fprintf(stderr, "quillbay-regsvr: %s in %s failed: 0x%08X", entry, path,
            static_cast<unsigned>(hr));
    if (hr == E_ACCESSDENIED)
        fprintf(stderr, unregister ? " (access denied: the module is registered for all users;"
                                     " only root can unregister it)"
                                   : " (access denied)");
    fprintf(stderr, "\n");
    return 5;
}

// The platform's component servers, by file name.
constexpr const char *kComponents[] = {"msado15.so"};

HRESULT CallEntry(HMODULE module, const char *entry) {
    auto call = reinterpret_cast<LPFNREGISTERSERVER>(
        reinterpret_cast<void *>(GetProcAddress(module, entry)));
    return call ? call() : E_NOTIMPL;
}

// Registers each component found beside the platform library; a missing
// one is skipped, a failing one reported.
void RegisterComponents() {
    HMODULE platform = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&LoadLibraryA), &platform);
    char path[MAX_PATH] = {};
    if (!platform || !GetModuleFileNameA(platform, path, MAX_PATH))
        return;
    std::string folder(path);
    folder.erase(folder.find_last_of('/') + 1);
    for (const char *name : kComponents) {
        std::string component = folder + name;
        if (GetFileAttributesA(component.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        HMODULE module = LoadLibraryA(component.c_str());
        HRESULT hr = module ? CallEntry(module, "DllRegisterServer") : E_FAIL;
        if (FAILED(hr))
            fprintf(stderr, "quillbay-regsvr: registering %s failed: 0x%08X\n", component.c_str(),
                    static_cast<unsigned>(hr));
        if (module)
            FreeLibrary(module);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
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
    if (!path)
        return tool_options::Usage(kTool);
    if (!unregister)
        RegisterComponents();
    // The command line is in the file system's encoding; the platform's
    // calls take the ANSI code page.
    const std::string ansiPath = platform::Utf8ToAnsi(path);
    HMODULE module = LoadLibraryA(ansiPath.c_str());
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
    if (FAILED(hr))
        return Failed(entry, path, hr, unregister);
    if (!silent)
        printf("%s in %s succeeded.\n", entry, path);
    return 0;
}
