#include "testing/PrivateBus.h"

#include <csignal>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {

PrivateBus::PrivateBus(const std::string &folder) {
    const std::string socket = folder + "/bus";
    m_address = "unix:path=" + socket;
    m_pid =
        Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + m_address}, nullptr);
    for (int waited = 0; m_pid > 0 && !m_ready && waited < 250; ++waited) {
        m_ready = access(socket.c_str(), F_OK) == 0;
        usleep(20000);
    }
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        Wait(m_pid);
    }
}

} // namespace testing_support
