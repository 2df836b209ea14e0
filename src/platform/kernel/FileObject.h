// The kernel object behind a file handle.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "KernelObject.h"

namespace platform {

class FileObject : public KernelObject {
public:
    FileObject(int fd, DWORD access, std::string path, bool deleteOnClose);
    ~FileObject() override;

    int Descriptor() const { return m_fd; }
    DWORD Access() const { return m_access; }
    const std::string &Path() const { return m_path; }

    // Byte ranges locked through this handle, so overlapping locks and
    // unmatched unlocks are refused as the platform refuses them.
    std::vector<std::pair<ULONGLONG, ULONGLONG>> &Locks() { return m_locks; }

private:
    int m_fd;
    DWORD m_access;
    std::string m_path;
    bool m_deleteOnClose;
    std::vector<std::pair<ULONGLONG, ULONGLONG>> m_locks;
};

} // namespace platform
