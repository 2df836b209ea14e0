#include "testing/TestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"

extern char **environ;

namespace testing_support {

ScopedEnvironment::ScopedEnvironment(const char *name, const std::string &value) : m_name(name) {
    if (const char *old = getenv(name)) {
        m_old = old;
        m_had = true;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_had)
        setenv(m_name, m_old.c_str(), 1);
    else
        unsetenv(m_name);
}

namespace {

std::mutex &FoldersLock() {
    static std::mutex lock;
    return lock;
}

// The folders this run made, which it may change the modes of.
std::set<std::string> &OwnFolders() {
    static std::set<std::string> folders;
    return folders;
}

void Remember(const std::string &folder) {
    std::lock_guard<std::mutex> guard(FoldersLock());
    OwnFolders().insert(folder);
}

bool IsOwn(const std::string &folder) {
    std::lock_guard<std::mutex> guard(FoldersLock());
    return OwnFolders().count(folder) != 0;
}

// A folder made in base for a server's user: base's chain is opened to be
// passed through where the run made it; empty (why set) when a folder the run
// did not make bars the way.
std::string ServerRootIn(const std::string &base, const std::string &prefix, std::string &why) {
    for (size_t i = 1; i <= base.size(); ++i) {
        if (i != base.size() && base[i] != '/')
            continue;
        const std::string folder = base.substr(0, i);
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0) {
            why = folder + " is missing";
            return {};
        }
        if ((st.st_mode & S_IXOTH) != 0)
            continue;
        if (!IsOwn(folder)) {
            why = folder + " (not made by the tests) is closed to other users";
            return {};
        }
        chmod(folder.c_str(), (st.st_mode & 07777) | S_IXGRP | S_IXOTH);
    }
    std::vector<char> buffer(base.begin(), base.end());
    const std::string pattern = "/" + prefix + "XXXXXX";
    buffer.insert(buffer.end(), pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) {
        why = "cannot make a folder in " + base;
        return {};
    }
    const std::string parent = buffer.data();
    Remember(parent);
    chmod(parent.c_str(), 0711);
    const std::string root = parent + "/root";
    if (!MakeFolder(root, 0755)) {
        why = "cannot make " + root;
        return {};
    }
    return root;
}

} // namespace

std::string MakeTempDir(const std::string &prefix) {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        return {};
    Remember(buffer.data());
    return buffer.data();
}

bool MakeFolder(const std::string &path, mode_t mode) {
    if (mkdir(path.c_str(), mode) != 0)
        return false;
    chmod(path.c_str(), mode); // whatever the umask took away
    Remember(path);
    return true;
}

void RemoveTree(const std::string &path) {
    if (path.size() > 5)
        Run({"/bin/sh", "-c", "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'"});
}

std::string MakeServerRoot(const std::string &prefix, std::string &why) {
    const char *base = getenv("TMPDIR");
    std::string root = ServerRootIn(base && *base ? base : "/tmp", prefix, why);
    if (root.empty())
        root = ServerRootIn("/tmp", prefix, why);
    else
        why.clear();
    return root;
}

std::string ServerRootParent(const std::string &root) {
    return root.substr(0, root.find_last_of('/'));
}

void RemoveServerRoot(const std::string &root) {
    if (!root.empty())
        RemoveTree(ServerRootParent(root));
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

namespace {

// The ELF machine a file is built for (its e_machine), 0 when it is no ELF
// file (a script, a missing file).
unsigned ElfMachine(const std::string &path) {
    unsigned char header[20] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(header), sizeof header) ||
        std::string(reinterpret_cast<char *>(header), 4) != "\x7f" "ELF")
        return 0;
    const bool little = header[5] == 1;
    return little ? header[18] | (header[19] << 8) : (header[18] << 8) | header[19];
}

std::vector<std::string> Words(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

const std::vector<std::string> &Emulator() {
#ifdef QUILLBAY_BUILD_EMULATOR
    static const char *const built = QUILLBAY_BUILD_EMULATOR;
#else
    static const char *const built = "";
#endif
    static const std::vector<std::string> emulator = [] {
        const char *chosen = getenv("QUILLBAY_EMULATOR");
        std::vector<std::string> words = Words(chosen ? chosen : built);
        // Programs are started by path: a bare name is looked up on PATH.
        if (!words.empty() && words[0].find('/') == std::string::npos) {
            std::istringstream path(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
            for (std::string folder; std::getline(path, folder, ':');) {
                if (access((folder + "/" + words[0]).c_str(), X_OK) == 0) {
                    words[0] = folder + "/" + words[0];
                    break;
                }
            }
        }
        return words;
    }();
    return emulator;
}

std::vector<std::string> Startable(const std::vector<std::string> &argv) {
    if (Emulator().empty() || argv.empty())
        return argv;
    // Under user-mode emulation /proc/self/exe is the emulated program.
    static const unsigned own = ElfMachine("/proc/self/exe");
    if (own == 0 || ElfMachine(argv[0]) != own)
        return argv;
    std::vector<std::string> started = Emulator();
    started.insert(started.end(), argv.begin(), argv.end());
    return started;
}

int Spawn(const std::vector<std::string> &command, int *outputFd) {
    const std::vector<std::string> argv = Startable(command);
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

ProcessResult Finish(int pid, int outputFd) {
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(outputFd, buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    close(outputFd);
    return {Wait(pid), output};
}

ProcessResult Run(const std::vector<std::string> &argv) {
    int fd = -1;
    int pid = Spawn(argv, &fd);
    if (pid < 0)
        return {-1, ""};
    return Finish(pid, fd);
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

std::vector<std::string> FolderEntries(const std::string &dir) {
    std::vector<std::string> names;
    for (std::string &name : ListFiles(dir, "")) {
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    return names;
}

std::string NewEntry(const std::string &dir, std::vector<std::string> &seen) {
    for (const std::string &name : FolderEntries(dir)) {
        if (std::find(seen.begin(), seen.end(), name) == seen.end()) {
            seen.push_back(name);
            return dir + "/" + name;
        }
    }
    return {};
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

std::vector<std::string> BackslashTrailCharacters() {
    std::vector<std::string> found;
    for (const char *character : {"嘰", "乗", "十", "表"}) {
        const std::string ansi = Ansi(character);
        if (ansi.size() == 2 && ansi[1] == '\\')
            found.emplace_back(character);
    }
    return found;
}

} // namespace testing_support
