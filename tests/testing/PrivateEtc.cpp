#include "testing/PrivateEtc.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {

PrivateEtc::PrivateEtc() {
    if (geteuid() != 0) {
        m_why = "a mount namespace of the test's own needs root (run as root, as CI does)";
        return;
    }
    m_dir = MakeTempDir("etc-");
    m_machine = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    m_cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir.empty() || m_machine < 0 || m_cwd < 0) {
        m_why = "cannot make a folder or open the machine's mount namespace";
        return;
    }
    if (!Enter())
        Leave();
}

// The thread's own namespace, whose mounts never reach the machine's (all
// private), with a memory file system on the test's folder that holds the
// overlay's changes: an overlay's upper folder must be on a file system
// that takes one, which the test's temporary folder may not be.
bool PrivateEtc::Enter() {
    auto failed = [this](const char *what) {
        m_why = std::string(what) + ": " + strerror(errno);
        return false;
    };
    if (unshare(CLONE_NEWNS) != 0)
        return failed("unshare(CLONE_NEWNS)");
    m_entered = true;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("making the namespace's mounts private");
    if (mount("tmpfs", m_dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
        return failed("mounting a memory file system for /etc's changes");
    const std::string upper = m_dir + "/upper", work = m_dir + "/work";
    if (mkdir(upper.c_str(), 0755) != 0 || mkdir(work.c_str(), 0700) != 0)
        return failed("making the overlay's folders");
    const std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
    if (mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0)
        return failed("mounting an overlay on /etc");
    return true;
}

// Back in the machine's namespace (which puts the thread at the root): the
// test's namespace, its overlay and memory file system go once nothing it
// started runs in them.
void PrivateEtc::Leave() {
    if (m_entered && setns(m_machine, CLONE_NEWNS) != 0)
        m_why = m_why.empty() ? std::string("setns back: ") + strerror(errno) : m_why;
    m_entered = false;
    if (m_cwd >= 0 && fchdir(m_cwd) != 0)
        m_why = m_why.empty() ? "cannot return to the working folder" : m_why;
}

PrivateEtc::~PrivateEtc() {
    Leave();
    if (m_machine >= 0)
        close(m_machine);
    if (m_cwd >= 0)
        close(m_cwd);
    if (!m_dir.empty())
        RemoveTree(m_dir);
}

bool PrivateEtc::Ready(std::string &why) const {
    why = m_why;
    return m_why.empty();
}

} // namespace testing_support
