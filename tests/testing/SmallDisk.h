// A small file system of a test's own (a tmpfs mounted on a folder the test
// made, which needs root), that the test fills on purpose and frees again,
// and may make read-only. Unmounted and removed on destruction.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

class SmallDisk {
public:
    explicit SmallDisk(size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    // False (with the reason) when it could not be mounted.
    bool Ready(std::string &why) const;
    const std::string &Path() const { return m_path; }

    // Takes every free byte with a file of its own; Free gives them back.
    void Fill();
    void Free();
    // Remounts it read-only, or writable again.
    bool SetReadOnly(bool readOnly);

private:
    std::string m_root, m_path, m_why;
    bool m_mounted = false;
};

} // namespace testing_support
