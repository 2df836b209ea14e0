// Named shared memory segments with the platform's lifetime rules.
//
// The platform deletes a named object when its last handle closes, and a
// new object under the same name starts fresh (a mapping starts zero-filled).
// POSIX shared memory outlives its users, so each segment carries a lock
// protocol: every user holds a shared open-file-description lock on it; a
// user that can take the lock exclusively is alone, so an opener that gets it
// (re)initialises the segment and a closer that gets it removes the name.
// Locks of a process that dies are released by the system, so a crashed
// user never leaves stale counters behind for the next first opener.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// The shared memory name for an object of a kind ("event", "mapping") and a
// platform name: this user's, with characters outside a safe set written as
// %XX and long names kept unique by a hash.
std::string ShmName(const char *kind, const char *name);

// One user's hold on a named shared memory segment.
class SharedSegment {
public:
    using Initialise = void (*)(void *memory, const void *context);

    // Creates or joins the segment; the first user (alone) sizes it and runs
    // init on it. existed tells whether another user held it. Null on failure.
    static std::shared_ptr<SharedSegment> Open(const std::string &name, size_t size,
                                               Initialise init, const void *context, bool &existed);
    ~SharedSegment();
    SharedSegment(const SharedSegment &) = delete;
    SharedSegment &operator=(const SharedSegment &) = delete;

    void *Memory() const { return m_memory; }
    size_t Size() const { return m_size; }
    int Descriptor() const { return m_fd; }

private:
    SharedSegment(std::string name, int fd, void *memory, size_t size)
        : m_name(std::move(name)), m_fd(fd), m_memory(memory), m_size(size) {}

    static bool StillNamed(int fd, const std::string &name);

    std::string m_name;
    int m_fd;
    void *m_memory;
    size_t m_size;
};

} // namespace platform
