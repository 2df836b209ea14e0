// Named events and file mappings on POSIX shared memory.
//
// The platform deletes a named object when its last handle closes, and a
// new object under the same name starts fresh (a mapping starts zero-filled).
// POSIX shared memory outlives its users, so each segment carries a lock
// protocol: every user holds a shared open-file-description lock on it; a
// user that can take the lock exclusively is alone, so an opener that gets it
// (re)initialises the segment and a closer that gets it removes the name.
// Locks of a process that dies are released by the system, so a crashed
// user never leaves stale counters behind for the next first opener.
#include "NamedObjects.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileObject.h"
#include "winbase.h"

namespace platform {
namespace {

bool SetLock(int fd, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// Object names may hold any character but '\'; shared memory names may not
// hold '/'. Characters outside a safe set are written as %XX.
std::string ShmName(const char *kind, const char *name) {
    std::string out = "/quillbay-" + std::to_string(getuid()) + "-" + kind + "-";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        if (isalnum(*p) || *p == '-' || *p == '_' || *p == '.') {
            out += static_cast<char>(*p);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", *p);
            out += hex;
        }
    }
    if (out.size() > 250) {
        // Long names are kept unique by a hash of the whole name.
        unsigned long long hash = 1469598103934665603ull;
        for (const char *p = name; *p; ++p)
            hash = (hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
        out = out.substr(0, 230) + "#" + std::to_string(hash);
    }
    return out;
}

// One user's hold on a named shared memory segment.
class SharedSegment {
public:
    using Initialise = void (*)(void *memory, const void *context);

    static std::shared_ptr<SharedSegment> Open(const std::string &name, size_t size,
                                               Initialise init, const void *context,
                                               bool &existed) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                return nullptr;
            existed = !SetLock(fd, F_WRLCK, false);
            if (!existed) {
                // Alone: start the object afresh.
                if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
                    close(fd);
                    return nullptr;
                }
            }
            void *memory = nullptr;
            size_t mapped = 0;
            if (!existed && init) {
                memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (memory == MAP_FAILED) {
                    close(fd);
                    return nullptr;
                }
                mapped = size;
                init(memory, context);
            }
            if (!SetLock(fd, F_RDLCK, true) || !StillNamed(fd, name)) {
                // The name was removed by a last closer while we opened it.
                if (memory)
                    munmap(memory, mapped);
                close(fd);
                continue;
            }
            if (!memory) {
                struct stat st {};
                fstat(fd, &st);
                mapped = static_cast<size_t>(st.st_size);
                if (mapped == 0 || (init && mapped < size)) {
                    close(fd);
                    return nullptr;
                }
                memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (memory == MAP_FAILED) {
                    close(fd);
                    return nullptr;
                }
            }
            return std::shared_ptr<SharedSegment>(new SharedSegment(name, fd, memory, mapped));
        }
        return nullptr;
    }

    ~SharedSegment() {
        munmap(m_memory, m_size);
        if (SetLock(m_fd, F_WRLCK, false))
            shm_unlink(m_name.c_str());
        close(m_fd);
    }

    void *Memory() const { return m_memory; }
    size_t Size() const { return m_size; }
    int Descriptor() const { return m_fd; }

private:
    SharedSegment(std::string name, int fd, void *memory, size_t size)
        : m_name(std::move(name)), m_fd(fd), m_memory(memory), m_size(size) {}

    static bool StillNamed(int fd, const std::string &name) {
        struct stat mine {}, named {};
        if (fstat(fd, &mine) != 0)
            return false;
        std::string path = "/dev/shm" + name;
        if (stat(path.c_str(), &named) != 0)
            return false;
        return mine.st_ino == named.st_ino && mine.st_dev == named.st_dev;
    }

    std::string m_name;
    int m_fd;
    void *m_memory;
    size_t m_size;
};

// ---- Events -------------------------------------------------------------------

struct SharedEventState {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    int signalled;
    int manualReset;
};

struct EventInit {
    bool manualReset;
    bool initialState;
};

void InitialiseEvent(void *memory, const void *context) {
    auto *state = static_cast<SharedEventState *>(memory);
    auto *init = static_cast<const EventInit *>(context);
    pthread_mutexattr_t mutexAttr;
    pthread_mutexattr_init(&mutexAttr);
    pthread_mutexattr_setpshared(&mutexAttr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&mutexAttr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&state->mutex, &mutexAttr);
    pthread_mutexattr_destroy(&mutexAttr);
    pthread_condattr_t condAttr;
    pthread_condattr_init(&condAttr);
    pthread_condattr_setpshared(&condAttr, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&condAttr, CLOCK_MONOTONIC);
    pthread_cond_init(&state->condition, &condAttr);
    pthread_condattr_destroy(&condAttr);
    state->signalled = init->initialState ? 1 : 0;
    state->manualReset = init->manualReset ? 1 : 0;
}

class NamedEvent : public KernelObject {
public:
    explicit NamedEvent(std::shared_ptr<SharedSegment> segment) : m_segment(std::move(segment)) {}

    bool IsShared() const override { return true; }

    bool WaitShared(DWORD milliseconds) override {
        SharedEventState *state = State();
        Lock(state);
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while (!state->signalled) {
            if (milliseconds == 0)
                break;
            int rc = milliseconds == INFINITE
                         ? pthread_cond_wait(&state->condition, &state->mutex)
                         : pthread_cond_timedwait(&state->condition, &state->mutex, &deadline);
            if (rc == EOWNERDEAD)
                pthread_mutex_consistent(&state->mutex);
            else if (rc == ETIMEDOUT)
                break;
        }
        bool acquired = state->signalled != 0;
        if (acquired && !state->manualReset)
            state->signalled = 0;
        pthread_mutex_unlock(&state->mutex);
        return acquired;
    }

    void Set(bool set) {
        SharedEventState *state = State();
        Lock(state);
        state->signalled = set ? 1 : 0;
        if (set) {
            if (state->manualReset)
                pthread_cond_broadcast(&state->condition);
            else
                pthread_cond_signal(&state->condition);
        }
        pthread_mutex_unlock(&state->mutex);
    }

private:
    SharedEventState *State() const { return static_cast<SharedEventState *>(m_segment->Memory()); }

    static void Lock(SharedEventState *state) {
        // A process that died while holding the mutex leaves it to the next
        // locker, which takes it over; the flag it guards is always valid.
        if (pthread_mutex_lock(&state->mutex) == EOWNERDEAD)
            pthread_mutex_consistent(&state->mutex);
    }

    std::shared_ptr<SharedSegment> m_segment;
};

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

HANDLE CreateNamedEvent(const char *name, bool manualReset, bool initialState) {
    EventInit init{manualReset, initialState};
    bool existed = false;
    auto segment = SharedSegment::Open(ShmName("event", name), sizeof(SharedEventState),
                                       InitialiseEvent, &init, existed);
    if (!segment) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE handle = AddHandle(std::make_shared<NamedEvent>(std::move(segment)));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

bool SetNamedEvent(KernelObject *object, bool set) {
    auto *event = dynamic_cast<NamedEvent *>(object);
    if (!event)
        return false;
    event->Set(set);
    return true;
}

HANDLE CreateMapping(HANDLE file, const char *name, ULONGLONG size, bool writable) {
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
        segment = SharedSegment::Open(ShmName("mapping", name), static_cast<size_t>(size),
                                      nullptr, nullptr, existed);
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
    size_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap
                                         : static_cast<size_t>(mapping->Size() - offset);
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
