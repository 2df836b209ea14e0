#include "JobFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../kernel/FileMove.h"
#include "../kernel/PathRules.h"
#include "../kernel/winerror.h"

namespace platform::print {
namespace {

constexpr size_t kBlock = 64 * 1024; // what reaches the file in one write

// The platform's error for a failed write or rename in the print folder:
// no space whatever the limit (the disk, a quota, the largest file), a
// missing folder (removed meanwhile) as a missing path.
DWORD JobFileError(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EIO:
        return ERROR_WRITE_FAULT;
    default:
        return ErrorFromErrno(error);
    }
}

} // namespace

JobFile::JobFile(const std::string &folder) : m_folder(folder) {
    // Jobs of several threads (the bridge's sessions) and processes start
    // at once: the process and a serial keep their names apart.
    static std::atomic<int> serial{0};
    m_path =
        folder + "/.job-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".pdf.part";
    m_fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        Fail(errno);
    m_buffer.reserve(kBlock);
}

JobFile::~JobFile() {
    Discard();
}

void JobFile::Fail(int error) {
    if (!m_error)
        m_error = JobFileError(error);
}

bool JobFile::Write(const unsigned char *data, size_t size) {
    if (m_error || m_fd < 0)
        return false;
    m_buffer.insert(m_buffer.end(), data, data + size);
    return m_buffer.size() < kBlock || Flush();
}

bool JobFile::Flush() {
    const unsigned char *data = m_buffer.data();
    size_t size = m_buffer.size();
    while (!m_error && size > 0) {
        const ssize_t written = write(m_fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            Fail(written < 0 ? errno : ENOSPC);
            break;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    m_buffer.clear();
    return !m_error;
}

bool JobFile::Sink(void *closure, const unsigned char *data, unsigned int length) {
    return static_cast<JobFile *>(closure)->Write(data, length);
}

bool JobFile::Close() {
    if (m_fd < 0)
        return !m_error;
    struct stat st {};
    if (!m_error && Flush() && fsync(m_fd) != 0)
        Fail(errno);
    // A file whose folder was removed meanwhile has no name left to give.
    if (!m_error && (fstat(m_fd, &st) != 0 || st.st_nlink == 0))
        Fail(ENOENT);
    if (close(m_fd) != 0)
        Fail(errno);
    m_fd = -1;
    return !m_error;
}

bool JobFile::Commit(const std::string &path) {
    if (!Close())
        return false;
    // The data is on the disk already; the rename and the folder remain.
    if (int error = MoveFileWhole(m_path, path, false, false)) {
        Fail(error);
        Discard();
        return false;
    }
    m_path = path;
    m_committed = true;
    // The file is whole and named now: a folder that cannot be flushed only
    // leaves its entry less sure to outlast a crash.
    SyncFolder(m_folder);
    return true;
}

void JobFile::Discard() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (!m_committed && !m_path.empty()) {
        unlink(m_path.c_str());
        m_path.clear();
    }
}

} // namespace platform::print
