#include "JobPreview.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace platform::print {
namespace {

thread_local std::string t_previewFolder;

constexpr const char *kRenderer = "/usr/bin/pdftoppm";

bool RunQuietly(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

void PreviewJobsOnThisThread(const std::string &folder) {
    t_previewFolder = folder;
    if (!folder.empty())
        mkdir(folder.c_str(), 0700);
}

const std::string &PreviewFolderOfThisThread() {
    return t_previewFolder;
}

std::string RenderPreviewImage(const std::string &pdf) {
    const size_t dot = pdf.rfind('.');
    const std::string base = dot == std::string::npos ? pdf : pdf.substr(0, dot);
    if (access(kRenderer, X_OK) != 0 ||
        !RunQuietly({kRenderer, "-png", "-r", "96", "-singlefile", "-f", "1", pdf, base}))
        return "";
    return access((base + ".png").c_str(), R_OK) == 0 ? base + ".png" : "";
}

} // namespace platform::print
