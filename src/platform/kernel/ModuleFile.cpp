// Reading a module's resources from its file: opened without blocking (a
// FIFO at the name is refused, not waited on), read with pread through the
// bounds-checked ELF reader, closed before the answer.
#include "ModuleFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ElfSectionReader.h"
#include "PathRules.h"
#include "ResourceFormat.h"
#include "winerror.h"

namespace platform {
namespace {

// The largest resource section read: far above any module's pictures and
// scripts, and a bound on what a crafted file can make the reader allocate.
constexpr size_t kMaxResourceSection = 256u << 20;

class FileBytes : public ByteSource {
public:
    FileBytes(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    bool ReadAt(uint64_t offset, void *buffer, size_t size) const override {
        if (offset > m_size || size > m_size - offset)
            return false;
        auto *at = static_cast<unsigned char *>(buffer);
        while (size > 0) {
            const ssize_t n = pread(m_fd, at, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at += n;
            size -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

private:
    int m_fd;
    uint64_t m_size;
};

} // namespace

DWORD ReadModuleFileResources(const std::string &path, ResourceIndex &index) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_MOD_NOT_FOUND : ErrorFromErrno(errno);
    struct stat info {};
    DWORD error = ERROR_SUCCESS;
    std::vector<unsigned char> image;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = ERROR_BAD_EXE_FORMAT;
    } else {
        FileBytes file(fd, static_cast<uint64_t>(info.st_size));
        if (!ElfSectionReader(file).Read(resource_format::kResourceSection, kMaxResourceSection,
                                         image) ||
            !index.Adopt(std::move(image)))
            error = ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    close(fd);
    return error;
}

} // namespace platform
