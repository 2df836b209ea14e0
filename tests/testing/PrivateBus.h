// A D-Bus message bus of a test's own (dbus-daemon with the session bus's
// rules) on a socket in a folder the test made; stopped on destruction.
// A bus for every account also lets other accounts' programs connect (a
// system bus: cupsd's notifier runs as the server's own user).
#pragma once

#include <string>

namespace testing_support {

class PrivateBus {
public:
    enum Accounts { kOwnAccount, kEveryAccount };
    // The socket is made as folder/bus.
    explicit PrivateBus(const std::string &folder, Accounts accounts = kOwnAccount);
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool Ready() const { return m_ready; }
    // "unix:path=...", for DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS.
    const std::string &Address() const { return m_address; }

private:
    std::string m_address;
    int m_pid = -1;
    bool m_ready = false;
};

} // namespace testing_support
