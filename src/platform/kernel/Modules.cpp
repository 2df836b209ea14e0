// Modules (shared objects) and their resources.
//
// A module handle is the address where the module is loaded, as on the
// platform. Each module's resource table is registered by the module itself
// when it is loaded (see ResourceTable.h).
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <mutex>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "PathRules.h"
#include "ResourceTable.h"
#include "TextConvert.h"
#include "winbase.h"
#include "winnls.h"

namespace platform {
namespace {

struct LoadedLibrary {
    void *handle;
    int references;
};

struct ModuleState {
    std::mutex lock;
    std::map<HMODULE, const ResourceTable *> resources;
    std::map<HMODULE, LoadedLibrary> libraries;
};

ModuleState &State() {
    static auto *state = new ModuleState;
    return *state;
}

HMODULE BaseOf(const void *address) {
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0)
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

struct ObjectInfo {
    HMODULE base = nullptr;
    std::string name;
};

// Every object of the process, the main program first.
std::vector<ObjectInfo> LoadedObjects() {
    std::vector<ObjectInfo> objects;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            ElfW(Addr) lowest = ~static_cast<ElfW(Addr)>(0);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type == PT_LOAD)
                    lowest = std::min(lowest, info->dlpi_phdr[i].p_vaddr);
            }
            if (lowest == ~static_cast<ElfW(Addr)>(0))
                return 0;
            auto base = reinterpret_cast<HMODULE>((info->dlpi_addr + lowest) &
                                                  ~static_cast<ElfW(Addr)>(getpagesize() - 1));
            static_cast<std::vector<ObjectInfo> *>(data)->push_back(
                ObjectInfo{base, info->dlpi_name ? info->dlpi_name : ""});
            return 0;
        },
        &objects);
    return objects;
}

std::string MainProgramPath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    path[n] = 0;
    return path;
}

HMODULE MainModule() {
    auto objects = LoadedObjects();
    return objects.empty() ? nullptr : objects.front().base;
}

std::string ModulePath(HMODULE module) {
    auto objects = LoadedObjects();
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i].base != module)
            continue;
        if (i == 0 || objects[i].name.empty())
            return MainProgramPath();
        char resolved[PATH_MAX];
        if (realpath(objects[i].name.c_str(), resolved))
            return resolved;
        return objects[i].name;
    }
    return {};
}

// A dlopen handle for a module, without taking a new reference to it.
void *HandleOf(HMODULE module) {
    if (!module || module == MainModule())
        return dlopen(nullptr, RTLD_NOW);
    std::string path = ModulePath(module);
    if (path.empty())
        return nullptr;
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle); // RTLD_NOLOAD took a reference; the module stays loaded
    return handle;
}

bool NameMatches(const char *wanted, const char *name, WORD id) {
    if (IS_INTRESOURCE(wanted))
        return !name && id == LOWORD(reinterpret_cast<ULONG_PTR>(wanted));
    if (wanted[0] == '#')
        return !name && id == static_cast<WORD>(strtoul(wanted + 1, nullptr, 10));
    return name && strcasecmp(name, wanted) == 0;
}

const ResourceTable *TableOf(HMODULE module) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.resources.find(module ? module : MainModule());
    return it == state.resources.end() ? nullptr : it->second;
}

// The platform's own libraries by their names: this module serves them all.
bool IsPlatformLibrary(const std::string &name) {
    static const char *const kNames[] = {
        "kernel32.dll", "user32.dll",   "gdi32.dll",   "advapi32.dll", "ole32.dll", "oleaut32.dll",
        "comdlg32.dll", "winspool.drv", "msvfw32.dll", "wininet.dll",  "winmm.dll"};
    for (const char *known : kNames) {
        if (strcasecmp(name.c_str(), known) == 0)
            return true;
    }
    return false;
}

HMODULE PlatformModule() {
    return BaseOf(reinterpret_cast<const void *>(&IsPlatformLibrary));
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" void RegisterResourceTable(const ResourceTable *table) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.resources[BaseOf(table)] = table;
}

extern "C" void UnregisterResourceTable(const ResourceTable *table) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.resources.find(BaseOf(table));
    if (it != state.resources.end() && it->second == table)
        state.resources.erase(it);
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = ToPosixPath(lpLibFileName);
    if (IsPlatformLibrary(name))
        return PlatformModule();
    std::string path;
    if (name.find('/') != std::string::npos) {
        path = FullPath(ResolvePath(lpLibFileName));
    } else {
        // A bare name is looked for beside the program first, then by the
        // system's library search.
        std::string program = MainProgramPath();
        std::string beside = program.substr(0, program.find_last_of('/') + 1) + name;
        std::string resolved = ResolvePosixPath(beside);
        path = access(resolved.c_str(), F_OK) == 0 ? resolved : name;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(access(path.c_str(), F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    link_map *map = nullptr;
    dlinfo(handle, RTLD_DI_LINKMAP, &map);
    HMODULE module = map ? BaseOf(map->l_ld) : nullptr;
    if (!module) {
        dlclose(handle);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    LoadedLibrary &library = state.libraries[module];
    library.handle = handle;
    ++library.references;
    return module;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    void *handle = nullptr;
    {
        ModuleState &state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        auto it = state.libraries.find(hLibModule);
        if (it == state.libraries.end() && hLibModule && hLibModule == PlatformModule())
            return TRUE; // the platform stays loaded
        if (it == state.libraries.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        handle = it->second.handle;
        if (--it->second.references == 0)
            state.libraries.erase(it);
    }
    dlclose(handle); // outside the lock: the module's destructors unregister
    return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!lpProcName || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = hModule ? hModule : MainModule();
    void *handle = HandleOf(module);
    void *symbol = handle ? dlsym(handle, lpProcName) : nullptr;
    // Only the module's own exports count, not those of its dependencies.
    if (!symbol || BaseOf(symbol) != module) {
        SetLastError(handle ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName)
        return MainModule();
    std::string wanted = ToPosixPath(lpModuleName);
    const bool byPath = wanted.find('/') != std::string::npos;
    for (const ObjectInfo &object : LoadedObjects()) {
        std::string name = object.name;
        if (!byPath)
            name = name.substr(name.find_last_of('/') + 1);
        if (!object.name.empty() && strcasecmp(name.c_str(), wanted.c_str()) == 0)
            return object.base;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule) {
    if (!phModule) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) ? BaseOf(lpModuleName)
                                                                   : GetModuleHandleA(lpModuleName);
    if (!*phModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
    // Modules here get no thread notifications in the first place.
    return hLibModule ? TRUE : FALSE;
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    const std::string path = FileSystemToAnsi(hModule ? ModulePath(hModule) : MainProgramPath());
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

extern "C" HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    if (!lpName || !lpType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ResourceTable *table = TableOf(hModule);
    if (!table) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    bool typeFound = false;
    for (DWORD i = 0; i < table->entryCount; ++i) {
        const ResourceEntry &entry = table->entries[i];
        if (!NameMatches(lpType, entry.typeName, entry.typeId))
            continue;
        typeFound = true;
        if (NameMatches(lpName, entry.name, entry.nameId))
            return reinterpret_cast<HRSRC>(const_cast<ResourceEntry *>(&entry));
    }
    SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto *entry = reinterpret_cast<const ResourceEntry *>(hResInfo);
    return const_cast<unsigned char *>(entry->data);
}

extern "C" DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const ResourceEntry *>(hResInfo)->size;
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

extern "C" BOOL WINAPI FreeResource(HGLOBAL) {
    return FALSE;
}

extern "C" int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = 0;
    const ResourceTable *table = TableOf(hInstance);
    const char *text = nullptr;
    for (DWORD i = 0; table && i < table->stringCount; ++i) {
        if (table->strings[i].id == uID)
            text = table->strings[i].utf8;
    }
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    // Strings are kept as UTF-8 and handed out in the ANSI code page.
    std::string ansi = Utf8ToAnsi(text);
    int length = std::min(static_cast<int>(strlen(ansi.c_str())), cchBufferMax - 1);
    memcpy(lpBuffer, ansi.data(), static_cast<size_t>(length));
    lpBuffer[length] = 0;
    return length;
}
