// LPrint, a label printer application (Debian's lprint), for tests: a
// server of its own with private state, spool and port, run as an
// unprivileged user when the tests run as root. Its printers are ZPL
// printers (LPrint's drivers) that print to a device URI, and are reached
// at ipp://127.0.0.1:PORT/ipp/print/NAME. Stopped on destruction.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class LprintServer {
public:
    LprintServer();
    ~LprintServer();
    LprintServer(const LprintServer &) = delete;
    LprintServer &operator=(const LprintServer &) = delete;

    // False (with the reason) when lprint is missing or did not start.
    bool Ready(std::string &why) const;
    // Adds a printer with one of LPrint's drivers ("zpl_4inch-203dpi-dt")
    // printing to the device; its IPP address, or "" when it could not.
    std::string AddPrinter(const std::string &name, const std::string &driver,
                           const std::string &device);
    int Port() const { return m_port; }
    // Stops the server for a while (it answers nothing, as a printer busy
    // or waking up), or lets it go on.
    void Pause(bool paused);

private:
    // The server's own process (runuser's child when run as root).
    int ServerPid() const;
    // The command line of an lprint sub-command, as the server's user and
    // with its state.
    std::vector<std::string> Command(const std::vector<std::string> &arguments) const;

    std::string m_root, m_why;
    int m_port = 0;
    int m_pid = -1;
    bool m_asRoot = false;
};

} // namespace testing_support
