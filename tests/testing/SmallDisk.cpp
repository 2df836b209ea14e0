#include "testing/SmallDisk.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "testing/TestSupport.h"

namespace testing_support {

SmallDisk::SmallDisk(size_t bytes) {
    if (geteuid() != 0) {
        m_why = "mounting a file system of the test's own needs root";
        return;
    }
    m_root = MakeTempDir("disk-");
    m_path = m_root + "/mnt";
    Run({"/bin/mkdir", m_path});
    const ProcessResult mounted =
        Run({"/bin/mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes) + ",mode=0755",
             "tmpfs", m_path});
    m_mounted = mounted.exitCode == 0;
    if (!m_mounted)
        m_why = "mount -t tmpfs failed on " + m_path;
}

SmallDisk::~SmallDisk() {
    // Detached even while a file on it is still open (a database
    // connection not yet closed): no mount outlives its test.
    if (m_mounted)
        Run({"/bin/umount", "--lazy", m_path});
    if (!m_root.empty())
        RemoveTree(m_root);
}

bool SmallDisk::Ready(std::string &why) const {
    why = m_why;
    return m_mounted;
}

void SmallDisk::Fill() {
    const int fd = open((m_path + "/.filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char> block(65536, 'x');
    // Large blocks first, then smaller ones into what is left.
    for (size_t size = block.size(); fd >= 0 && size > 0; size /= 2) {
        while (write(fd, block.data(), size) == static_cast<ssize_t>(size)) {
        }
    }
    if (fd >= 0)
        close(fd);
}

void SmallDisk::Free() {
    unlink((m_path + "/.filler").c_str());
}

bool SmallDisk::SetReadOnly(bool readOnly) {
    return Run({"/bin/mount", "-o", readOnly ? "remount,ro" : "remount,rw", m_path}).exitCode == 0;
}

} // namespace testing_support
