// An X display of its own for a test (Xvfb), so desktop dialogs can really
// be shown; it ends with the object.
#pragma once

#include <string>

namespace testing_support {

class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    bool Ready() const { return !m_name.empty(); }
    // ":N", for DISPLAY.
    const std::string &Name() const { return m_name; }

private:
    int m_pid = -1;
    std::string m_name;
};

} // namespace testing_support
