// File mappings on POSIX shared memory (named ones in SharedSegment.h's
// segments) or on files, and the checks every named object shares.
#include "NamedObjects.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileObject.h"
#include "PathRules.h"
#include "SharedSegment.h"
#include "winbase.h"

namespace platform {
namespace {

// ---- Mappings -----------------------------------------------------------------

class Mapping : public KernelObject {
public:
    Mapping(std::shared_ptr<SharedSegment> segment, int fd, ULONGLONG size, bool writable)
        : m_segment(std::move(segment)), m_fd(fd), m_size(size), m_writable(writable) {}
    ~Mapping() override {
        if (!m_segment && m_fd >= 0)
            close(m_fd);
    }

    int Descriptor() const { return m_segment ? m_segment->Descriptor() : m_fd; }
    ULONGLONG Size() const { return m_segment ? m_segment->Size() : m_size; }
    bool Writable() const { return m_writable; }
    std::shared_ptr<SharedSegment> Segment() const { return m_segment; }

private:
    std::shared_ptr<SharedSegment> m_segment; // named or anonymous shared memory
    int m_fd;                                 // a file's own descriptor (file mappings)
    ULONGLONG m_size;
    bool m_writable;
};

// A view keeps its mapping's memory alive after the mapping's handle closes.
struct View {
    size_t length;
    std::shared_ptr<SharedSegment> segment;
};

std::mutex &ViewLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::map<const void *, View> &Views() {
    static auto *views = new std::map<const void *, View>;
    return *views;
}

} // namespace

bool NameFits(const char *name) {
    // Counted in characters, as the platform counts them.
    if (name && PathCharacters(AnsiToFileSystem(name)) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

HANDLE CreateMapping(HANDLE file, const char *name, ULONGLONG size, bool writable) {
    if (!NameFits(name))
        return nullptr;
    if (file != INVALID_HANDLE_VALUE) {
        auto object = LookupHandleAs<FileObject>(file);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        struct stat st {};
        fstat(object->Descriptor(), &st);
        ULONGLONG fileSize = static_cast<ULONGLONG>(st.st_size);
        if (size == 0)
            size = fileSize;
        if (size == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (size > fileSize && (!writable || ftruncate(object->Descriptor(), size) != 0)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        int fd = dup(object->Descriptor());
        SetLastError(ERROR_SUCCESS);
        return AddHandle(std::make_shared<Mapping>(nullptr, fd, size, writable));
    }
    if (size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool existed = false;
    std::shared_ptr<SharedSegment> segment;
    if (name && *name) {
        segment = SharedSegment::Open(ShmName("mapping", name), static_cast<size_t>(size), nullptr,
                                      nullptr, existed);
    } else {
        // An unnamed mapping still gets a private segment so that every view
        // of it shows the same memory.
        static std::atomic<unsigned> serial{0};
        std::string unique = std::to_string(getpid()) + "." + std::to_string(++serial);
        segment = SharedSegment::Open(ShmName("anon", unique.c_str()), static_cast<size_t>(size),
                                      nullptr, nullptr, existed);
    }
    if (!segment) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE handle = AddHandle(std::make_shared<Mapping>(segment, -1, segment->Size(), writable));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

bool ThreadIsAlive(DWORD threadId) {
    if (threadId == 0)
        return false;
    std::string path = "/proc/" + std::to_string(threadId) + "/stat";
    FILE *file = fopen(path.c_str(), "r");
    if (!file)
        return false;
    char buffer[512] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, file);
    fclose(file);
    buffer[n] = 0;
    // The state follows the command name in parentheses; Z and X are dead.
    const char *close = strrchr(buffer, ')');
    if (!close || close[1] != ' ')
        return false;
    return close[2] != 'Z' && close[2] != 'X';
}

} // namespace platform

using namespace platform;

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                                            DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                                            LPCSTR lpName) {
    ULONGLONG size = (static_cast<ULONGLONG>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
    bool writable = (flProtect & PAGE_READWRITE) != 0;
    if (!writable && (flProtect & PAGE_READONLY) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateMapping(hFile, lpName, size, writable);
}

extern "C" LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                       DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                       SIZE_T dwNumberOfBytesToMap) {
    auto mapping = LookupHandleAs<Mapping>(hFileMappingObject);
    if (!mapping) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
    if (write && !mapping->Writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ULONGLONG offset = (static_cast<ULONGLONG>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
    if (offset % static_cast<ULONGLONG>(sysconf(_SC_PAGESIZE)) != 0 || offset >= mapping->Size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t length =
        dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<size_t>(mapping->Size() - offset);
    if (offset + length > mapping->Size()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int protection = PROT_READ | (write ? PROT_WRITE : 0);
    void *address = mmap(nullptr, length, protection, MAP_SHARED, mapping->Descriptor(),
                         static_cast<off_t>(offset));
    if (address == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(ViewLock());
    Views()[address] = View{length, mapping->Segment()};
    return address;
}

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
    View view;
    {
        std::lock_guard<std::mutex> guard(ViewLock());
        auto it = Views().find(lpBaseAddress);
        if (it == Views().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        view = std::move(it->second);
        Views().erase(it);
    }
    munmap(const_cast<void *>(lpBaseAddress), view.length);
    return TRUE;
}
