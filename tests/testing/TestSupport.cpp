#include "testing/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"

extern char **environ;

namespace testing_support {

std::string MakeTempDir(const std::string &prefix) {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        return {};
    return buffer.data();
}

void RemoveTree(const std::string &path) {
    if (path.size() > 5)
        Run({"/bin/sh", "-c", "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'"});
}

void OpenChain(const std::string &path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/')
            continue;
        // Only ever add search and read rights: a folder such as /tmp keeps
        // its sticky bit and its write rights for everyone.
        struct stat st;
        const std::string folder = path.substr(0, i);
        if (stat(folder.c_str(), &st) == 0 && (st.st_mode & 0055) != 0055)
            chmod(folder.c_str(), (st.st_mode & 07777) | 0055);
    }
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

int Spawn(const std::vector<std::string> &argv, int *outputFd) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int pipes[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd) {
        if (pipe(pipes) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, pipes[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipes[0]);
        posix_spawn_file_actions_addclose(&actions, pipes[1]);
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (outputFd) {
        close(pipes[1]);
        *outputFd = pipes[0];
    }
    return rc == 0 ? pid : -1;
}

int Wait(int pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void EndProcess(int pid, std::chrono::milliseconds grace) {
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

ProcessResult Run(const std::vector<std::string> &argv) {
    int fd = -1;
    int pid = Spawn(argv, &fd);
    if (pid < 0)
        return {-1, ""};
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    close(fd);
    return {Wait(pid), output};
}

std::vector<std::string> ListFiles(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Corpus(const std::string &relative) {
    return std::string(CORPORA_DIR) + "/" + relative;
}

bool HaveCorpus(const std::string &folder) {
    return access(Corpus(folder).c_str(), R_OK) == 0;
}

std::string Fixture(const std::string &relative) {
    return std::string(FIXTURES_DIR) + "/" + relative;
}

std::string Ansi(const std::string &utf8) {
    return platform::Utf8ToAnsi(utf8);
}

std::string Utf8(const std::string &ansi) {
    return platform::AnsiToUtf8(ansi.c_str());
}

} // namespace testing_support
