#include "testing/VirtualDisplay.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include "testing/TestSupport.h"

extern char **environ;

namespace testing_support {

VirtualDisplay::VirtualDisplay() {
    if (access("/usr/bin/Xvfb", X_OK) != 0)
        return;
    int numbers[2];
    if (pipe2(numbers, O_CLOEXEC) != 0)
        return;
    // Xvfb picks a free display number and writes it on descriptor 3.
    const char *argv[] = {"/usr/bin/Xvfb", "-displayfd", "3",           "-nolisten", "tcp",
                          "-screen",       "0",          "1024x768x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, numbers[1], 3);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(numbers[1]);
    std::string number;
    pollfd ready{numbers[0], POLLIN, 0};
    char c;
    while (m_pid > 0 && poll(&ready, 1, 10000) > 0 && read(numbers[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(numbers[0]);
    if (!number.empty())
        m_name = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        Wait(m_pid);
    }
}

} // namespace testing_support
