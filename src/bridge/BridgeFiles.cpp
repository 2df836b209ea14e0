#include "BridgeFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/kernel/PathRules.h"

namespace bridge {

std::string BridgeDirectory() {
    std::string dir = platform::HomeDirectory() + "/bridge"; // the home is made when missing
    mkdir(dir.c_str(), 0700);
    chmod(dir.c_str(), 0700); // only the user may read the token
    struct stat info {};
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
}

void RemoveFolder(const std::string &folder) {
    if (DIR *dir = folder.empty() ? nullptr : opendir(folder.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                unlink((folder + "/" + entry->d_name).c_str());
        }
        closedir(dir);
        rmdir(folder.c_str());
    }
}

void RemovePreviewFolders() {
    const std::string bridge = BridgeDirectory();
    DIR *dir = bridge.empty() ? nullptr : opendir(bridge.c_str());
    if (!dir)
        return;
    std::vector<std::string> left;
    while (dirent *entry = readdir(dir)) {
        if (strncmp(entry->d_name, "preview-", 8) == 0)
            left.push_back(bridge + "/" + entry->d_name);
    }
    closedir(dir);
    for (const std::string &folder : left)
        RemoveFolder(folder);
}

std::string TokenPath() {
    return BridgeDirectory() + "/token";
}

std::string LogPath() {
    return BridgeDirectory() + "/bridge.log";
}

bool TakeInstanceLock() {
    std::string path = BridgeDirectory() + "/lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    return true; // held, with its descriptor, until the process ends
}

std::string RandomToken(size_t bytes) {
    std::string raw(bytes, '\0');
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n <= 0)
            continue; // interrupted; the kernel's pool never runs dry once seeded
        got += static_cast<size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : raw) {
        text += kHex[c >> 4];
        text += kHex[c & 15];
    }
    return text;
}

bool WriteWholeFile(const std::string &path, const std::string &bytes, unsigned mode,
                    const std::string &part) {
    const std::string temporary = part.empty() ? path + ".part" : part;
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, static_cast<mode_t>(mode)) == 0 &&
              write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int error = errno; // the cause, for the caller's message
        unlink(temporary.c_str());
        errno = error;
    }
    return ok;
}

std::string AccountSocketPath(bool make) {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/')
        return "";
    const std::string dir = std::string(runtime) + "/quillbay";
    if (make)
        mkdir(dir.c_str(), 0700);
    return dir + "/bridge.sock";
}

std::string AccountSocketPath(const std::string &runtimeRoot, unsigned account) {
    return runtimeRoot + "/" + std::to_string(account) + "/quillbay/bridge.sock";
}

bool WriteTokenFile(const std::string &token) {
    return WriteWholeFile(TokenPath(), token + "\n", 0600);
}

void RemoveTokenFile() {
    unlink(TokenPath().c_str());
}

} // namespace bridge
