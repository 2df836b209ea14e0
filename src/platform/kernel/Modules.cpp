// Modules (shared objects) and their resources.
//
// A module handle is the address where the module is loaded, as on the
// platform. Each module's resource image is registered by the module itself
// when it is loaded (see ResourceTable.h). A module's file loaded as a data
// file is never loaded as code: its resource image is read from the file,
// and its handle is the address of that copy with the low bit set, as the
// platform marks data-file handles, so it is never a loaded module's.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "ModuleFile.h"
#include "PathRules.h"
#include "ResourceIndex.h"
#include "ResourceFormat.h"
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
    // By module handle: the images of loaded modules, read in place, and
    // those of data files, each a copy of its own.
    std::map<HMODULE, std::unique_ptr<ResourceIndex>> resources;
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

const ResourceIndex *TableOf(HMODULE module) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.resources.find(module ? module : MainModule());
    return it == state.resources.end() ? nullptr : it->second.get();
}

bool IsDataFileHandle(HMODULE module) {
    return (reinterpret_cast<uintptr_t>(module) & 1) != 0;
}

// The directory part of a path, with its final '/'.
std::string FolderOf(const std::string &path) {
    return path.substr(0, path.find_last_of('/') + 1);
}

// The file a module name names: a path as given (resolved, ignoring case
// where it does not exist as spelled); a bare name beside the program when
// it is there, else the bare name, for the system's library search.
std::string ModuleFileName(LPCSTR lpLibFileName, const std::string &name) {
    if (name.find('/') != std::string::npos)
        return FullPath(ResolvePath(lpLibFileName));
    std::string resolved = ResolvePosixPath(FolderOf(MainProgramPath()) + name);
    return access(resolved.c_str(), F_OK) == 0 ? resolved : name;
}

// A bare module name read as data: the library search without dlopen,
// beside the program, beside the platform library, then LD_LIBRARY_PATH.
std::string DataFileName(LPCSTR lpLibFileName, const std::string &name) {
    std::string path = ModuleFileName(lpLibFileName, name);
    if (path.find('/') != std::string::npos)
        return path;
    std::vector<std::string> folders{FolderOf(ModulePath(PlatformModule()))};
    if (const char *search = getenv("LD_LIBRARY_PATH")) {
        for (const std::string &folder : SplitNames(search, ':'))
            folders.push_back(folder + "/");
    }
    for (const std::string &folder : folders) {
        std::string candidate = ResolvePosixPath(folder + name);
        if (folder.size() > 1 && access(candidate.c_str(), F_OK) == 0)
            return candidate;
    }
    return name;
}

HMODULE LoadDataFile(LPCSTR lpLibFileName, const std::string &name) {
    const std::string path = DataFileName(lpLibFileName, name);
    auto index = std::make_unique<ResourceIndex>();
    const DWORD error = path.find('/') == std::string::npos
                            ? static_cast<DWORD>(ERROR_MOD_NOT_FOUND)
                            : ReadModuleFileResources(path, *index);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    auto module = reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(index.get()) | 1);
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.resources[module] = std::move(index);
    return module;
}

BOOL FreeDataFile(HMODULE module) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.resources.erase(module) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" void RegisterResourceImage(const unsigned char *image) {
    // The image is the module's own, in its memory: the size it declares is
    // the one to read (and still checked against the records it holds).
    auto index = std::make_unique<ResourceIndex>();
    if (!index->Read(image, ResourceIndex::DeclaredSize(image)))
        return;
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.resources[BaseOf(image)] = std::move(index);
}

extern "C" void UnregisterResourceImage(const unsigned char *image) {
    ModuleState &state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.resources.find(BaseOf(image));
    if (it != state.resources.end() && it->second->Image() == image)
        state.resources.erase(it);
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (LostCharacters(lpLibFileName))
        return nullptr;
    std::string name = ToPosixPath(lpLibFileName);
    if (IsPlatformLibrary(name))
        return PlatformModule();
    const std::string path = ModuleFileName(lpLibFileName, name);
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

extern "C" HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    constexpr DWORD kAsData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                              LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    if (hFile || !lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!(dwFlags & kAsData))
        return LoadLibraryA(lpLibFileName);
    if (LostCharacters(lpLibFileName))
        return nullptr;
    const std::string name = ToPosixPath(lpLibFileName);
    return IsPlatformLibrary(name) ? PlatformModule() : LoadDataFile(lpLibFileName, name);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (IsDataFileHandle(hLibModule))
        return FreeDataFile(hLibModule);
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
    const std::string posix = hModule ? ModulePath(hModule) : MainProgramPath();
    if (posix.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    // A name the code page cannot hold is not handed out with '?'s in it.
    std::string path;
    if (!FileSystemToAnsiExactly(posix, path))
        return 0;
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
    const ResourceIndex *table = TableOf(hModule);
    if (!table) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    bool typeFound = false;
    for (const ResourceEntry &entry : table->Entries()) {
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
    const ResourceIndex *table = TableOf(hInstance);
    const char *text = nullptr;
    for (size_t i = 0; table && i < table->Strings().size(); ++i) {
        if (table->Strings()[i].id == uID)
            text = table->Strings()[i].utf8;
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
