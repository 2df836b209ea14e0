// A private CUPS for tests: its own D-Bus, a driverless IPP printer that
// keeps every job's document, and a cupsd with a queue for it made the
// default, all on loopback and in a folder of their own. Stopped on
// destruction.
#pragma once

#include <string>

namespace testing_support {

class PrivateCups {
public:
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;

    // False (with the reason) when the server could not be started.
    bool Ready(std::string &why) const;
    // The socket to set CUPS_SERVER to.
    const std::string &Server() const { return m_socket; }
    const std::string &QueueName() const { return m_queue; }
    // Waits for the printer to hold a job's document; its path or "".
    std::string WaitForDocument(int seconds) const;

private:
    std::string m_root, m_socket, m_queue = "testq", m_why;
    int m_dbus = -1, m_printer = -1, m_cupsd = -1;
};

} // namespace testing_support
