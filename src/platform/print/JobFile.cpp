#include "JobFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../kernel/FileMove.h"
#include "../kernel/PathRules.h"
#include "../kernel/winerror.h"

namespace platform::print {
namespace {

constexpr size_t kBlock = 64 * 1024; // what reaches the file in one write

// A partial file's name: the prefix, the process, a random part, the ending.
constexpr const char *kPartPrefix = ".job-";
constexpr const char *kPartEnding = ".pdf.part";
constexpr int kAttempts = 16;
// A partial file whose lock nobody holds is a leftover once it has been
// left alone this long (a job under way holds its lock from the first
// moment; this covers folders that take no locks, and a job's very start).
constexpr time_t kUnchangedFor = 10;

// The partial files of this process's jobs under way. A process that ends
// normally while a job is still open (a page closed in the middle of a
// label: the object's release does not end its job) removes them as it
// exits; the registry itself is never destroyed, so a job that ends during
// the exit still finds it.
struct OpenJobs {
    std::mutex lock;
    std::set<std::string> paths;
};

OpenJobs &Open() {
    static OpenJobs *jobs = [] {
        std::atexit([] {
            std::lock_guard<std::mutex> guard(Open().lock);
            for (const std::string &path : Open().paths)
                unlink(path.c_str());
        });
        return new OpenJobs;
    }();
    return *jobs;
}

void Track(const std::string &path, bool open) {
    OpenJobs &jobs = Open();
    std::lock_guard<std::mutex> guard(jobs.lock);
    if (open)
        jobs.paths.insert(path);
    else
        jobs.paths.erase(path);
}

std::string RandomPart() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

// The process in a partial file's name (".job-PID-....pdf.part"), else 0.
pid_t PartOwner(const std::string &name) {
    const size_t prefix = strlen(kPartPrefix), ending = strlen(kPartEnding);
    if (name.size() <= prefix + ending || name.compare(0, prefix, kPartPrefix) != 0 ||
        name.compare(name.size() - ending, ending, kPartEnding) != 0)
        return 0;
    const size_t dash = name.find('-', prefix);
    if (dash == std::string::npos || dash == prefix)
        return 0;
    const std::string digits = name.substr(prefix, dash - prefix);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

// Whether no job holds the partial file at `path`: nobody holds its lock,
// and its process is gone or it has not changed for a while.
bool Abandoned(const std::string &path, pid_t owner) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    const bool gone = kill(owner, 0) != 0 && errno == ESRCH;
    const bool still = time(nullptr) - st.st_mtime >= kUnchangedFor;
    close(fd);
    return file && !locked && (gone || still);
}

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
    // at once, and a name may be left by a process that died: each name is
    // random, and one that is taken is never opened but passed over.
    int error = EEXIST;
    for (int attempt = 0; attempt < kAttempts && error == EEXIST; ++attempt) {
        const std::string path = folder + "/" + kPartPrefix + std::to_string(getpid()) + "-" +
                                 RandomPart() + kPartEnding;
        m_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        error = m_fd < 0 ? errno : 0;
        if (m_fd >= 0)
            m_path = path;
    }
    if (!m_path.empty())
        Track(m_path, true);
    if (m_fd < 0) {
        Fail(error);
        return;
    }
    // Where the folder takes no locks (some network file systems), the file
    // is still told apart by its process and its age.
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        m_lock = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    m_buffer.reserve(kBlock);
}

JobFile::~JobFile() {
    Discard();
}

void JobFile::Unlock() {
    if (m_lock >= 0) {
        close(m_lock);
        m_lock = -1;
    }
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
    Track(m_path, false);
    m_path = path;
    m_committed = true;
    Unlock();
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
    // Only the file this job made: a name it could not take is another's.
    if (!m_committed && !m_path.empty()) {
        unlink(m_path.c_str());
        Track(m_path, false);
        m_path.clear();
    }
    Unlock();
}

int JobFile::RemoveLeftovers(const std::string &folder) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> names;
    while (dirent *entry = readdir(dir)) {
        if (PartOwner(entry->d_name) > 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string &name : names) {
        const std::string path = folder + "/" + name;
        if (Abandoned(path, PartOwner(name)) && unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace platform::print
