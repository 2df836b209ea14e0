#include "SharedSegment.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

// Object names may hold any character but '\'; shared memory names may not
// hold '/'.
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

std::shared_ptr<SharedSegment> SharedSegment::Open(const std::string &name, size_t size,
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

SharedSegment::~SharedSegment() {
    munmap(m_memory, m_size);
    if (SetLock(m_fd, F_WRLCK, false))
        shm_unlink(m_name.c_str());
    close(m_fd);
}

bool SharedSegment::StillNamed(int fd, const std::string &name) {
    struct stat mine {
    }, named{};
    if (fstat(fd, &mine) != 0)
        return false;
    std::string path = "/dev/shm" + name;
    if (stat(path.c_str(), &named) != 0)
        return false;
    return mine.st_ino == named.st_ino && mine.st_dev == named.st_dev;
}

} // namespace platform
