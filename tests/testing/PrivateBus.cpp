#include "testing/PrivateBus.h"

#include <csignal>
#include <vector>
#include <unistd.h>

#include "testing/TestSupport.h"

namespace testing_support {

PrivateBus::PrivateBus(const std::string &folder, Accounts accounts) {
    const std::string socket = folder + "/bus";
    m_address = "unix:path=" + socket;
    std::vector<std::string> argv = {"/usr/bin/dbus-daemon", "--nofork"};
    if (accounts == kEveryAccount) {
        // The session bus's rules, with every account let in.
        WriteFile(
            folder + "/bus.conf",
            "<busconfig>\n  <type>session</type>\n  <listen>" + m_address +
                "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
                "    <allow user=\"*\"/>\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                "  </policy>\n</busconfig>\n");
        argv.push_back("--config-file=" + folder + "/bus.conf");
    } else {
        argv.insert(argv.end(), {"--session", "--address=" + m_address});
    }
    m_pid = Spawn(argv, nullptr);
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
