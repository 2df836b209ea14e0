#include "DesktopUiHost.h"

#include "../kernel/winbase.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace platform {
namespace {

constexpr int kZenityTimedOut = 5;
constexpr int kPrintSetupCancelled = 1;

const char *DialogKind(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "--error";
    case MB_ICONWARNING:
        return "--warning";
    default:
        return "--info";
    }
}

const char *IconName(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "dialog-error";
    case MB_ICONWARNING:
        return "dialog-warning";
    case MB_ICONQUESTION:
        return "dialog-question";
    default:
        return "dialog-information";
    }
}

// The answer of a box nobody answered (closed, or timed out): Cancel where
// the box has it, as closing a box means; else its default button.
int Unanswered(const std::vector<MessageBoxButton> &buttons) {
    for (const MessageBoxButton &b : buttons) {
        if (b.id == IDCANCEL)
            return IDCANCEL;
    }
    return buttons.front().id;
}

// Reads what zenity prints on its two outputs until it closes them.
void ReadOutputs(int out, int err, std::string &output, std::string &errors) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[512];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? output : errors).append(buffer, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
}

// The print-setup helper's answer, "key=value" lines; false when it is not
// a whole one.
bool ReadPrintSetup(const std::string &output, PrintSetupChoice &choice) {
    bool printer = false, orientation = false;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "printer") {
            choice.printer = value;
            printer = true;
        } else if (key == "paper") {
            choice.paper = value;
        } else if (key == "width") {
            choice.width = atoi(value.c_str());
        } else if (key == "length") {
            choice.length = atoi(value.c_str());
        } else if (key == "orientation") {
            choice.landscape = value == "landscape";
            orientation = true;
        }
    }
    return printer && orientation && choice.width > 0 && choice.length > 0;
}

} // namespace

DesktopUiHost::DesktopUiHost(std::string zenity, std::string notifySend, std::string printSetup)
    : m_zenity(std::move(zenity)), m_notifySend(std::move(notifySend)),
      m_printSetup(std::move(printSetup)) {}

std::string DesktopUiHost::FindZenity() {
    return FindProgram("zenity");
}

std::string DesktopUiHost::FindPrintSetup() {
    HMODULE platform = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&MakeDesktopUiHost), &platform);
    char path[4096];
    const DWORD n = GetModuleFileNameA(platform, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return {};
    std::string helper(path, n);
    helper = helper.substr(0, helper.rfind('/') + 1) + "quillbay-print-setup";
    return access(helper.c_str(), X_OK) == 0 ? helper : std::string();
}

DesktopUiHost::Outcome DesktopUiHost::Run(std::vector<std::string> args) {
    if (const char *timeout = getenv("QUILLBAY_UI_TIMEOUT"); timeout && atoi(timeout) > 0)
        args.push_back(std::string("--timeout=") + std::to_string(atoi(timeout)));
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    if (rc == 0) {
        ReadOutputs(out[0], err[0], outcome.output, outcome.errors);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.ran = true;
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(out[0]);
    close(err[0]);
    return outcome;
}

DesktopUiHost::Outcome DesktopUiHost::Zenity(std::vector<std::string> args) const {
    args.insert(args.begin(), m_zenity);
    Outcome outcome = Run(std::move(args));
    // 0, 1 and 5 are answers; anything else (a bad option, killed), or a
    // display that could not be opened (also exit 1), means the user saw
    // nothing. GTK's chatter on stderr stays out of the host's log.
    outcome.shown =
        outcome.ran &&
        (outcome.exitCode == 0 || outcome.exitCode == 1 || outcome.exitCode == kZenityTimedOut) &&
        outcome.errors.find("cannot open display") == std::string::npos;
    return outcome;
}

int DesktopUiHost::MessageBox(HWND owner, const std::string &text, const std::string &caption,
                              UINT type) {
    std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
    std::vector<std::string> args;
    if (buttons.size() == 1)
        args = {DialogKind(type), std::string("--ok-label=") + buttons[0].label};
    else
        args = {"--question", std::string("--ok-label=") + buttons[0].label,
                std::string("--cancel-label=") + buttons.back().label};
    if (buttons.size() == 3)
        args.push_back(std::string("--extra-button=") + buttons[1].label);
    args.insert(args.end(), {"--title=" + caption, "--text=" + text, "--no-markup",
                             std::string("--icon-name=") + IconName(type)});
    Outcome outcome = Zenity(args);
    if (!outcome.shown)
        return m_fallback.MessageBox(owner, text, caption, type);
    if (outcome.exitCode == 0)
        return buttons.front().id;
    if (buttons.size() == 3 && outcome.output == buttons[1].label)
        return buttons[1].id;
    if (outcome.exitCode == 1 && buttons.size() > 1)
        return buttons.back().id;
    return Unanswered(buttons);
}

int DesktopUiHost::Choose(const std::string &title, const std::vector<std::string> &options,
                          int preset) {
    // A radio list with a hidden column of indices, so equal texts stay apart.
    std::vector<std::string> args = {"--list",          "--radiolist",     "--title=" + title,
                                     "--text=" + title, "--column= ",      "--column=#",
                                     "--column=Choice", "--hide-column=2", "--print-column=2",
                                     "--hide-header"};
    for (size_t i = 0; i < options.size(); ++i)
        args.insert(args.end(), {static_cast<int>(i) == preset ? "TRUE" : "FALSE",
                                 std::to_string(i), options[i]});
    Outcome outcome = Zenity(args);
    if (!outcome.shown)
        return m_fallback.Choose(title, options, preset);
    if (outcome.exitCode != 0 || outcome.output.empty())
        return -1;
    int chosen = atoi(outcome.output.c_str());
    return chosen >= 0 && chosen < static_cast<int>(options.size()) ? chosen : -1;
}

bool DesktopUiHost::Ask(const std::string &title, const std::string &prompt, bool secret,
                        std::string &answer) {
    std::vector<std::string> args = {"--entry", "--title=" + title, "--text=" + prompt};
    if (secret)
        args.push_back("--hide-text");
    Outcome outcome = Zenity(args);
    if (!outcome.shown)
        return m_fallback.Ask(title, prompt, secret, answer);
    if (outcome.exitCode != 0)
        return false;
    answer = outcome.output;
    return true;
}

DialogOutcome DesktopUiHost::PrintSetup(const std::string &title, PrintSetupChoice &choice) {
    if (m_printSetup.empty())
        return DialogOutcome::NotShown;
    std::vector<std::string> args = {m_printSetup, "--title=" + title};
    if (!choice.printer.empty())
        args.push_back("--printer=" + choice.printer);
    if (choice.width > 0 && choice.length > 0)
        args.push_back("--paper=" + std::to_string(choice.width) + "x" +
                       std::to_string(choice.length));
    if (choice.landscape)
        args.push_back("--landscape");
    const Outcome outcome = Run(std::move(args));
    if (outcome.ran && outcome.exitCode == kPrintSetupCancelled)
        return DialogOutcome::Cancelled;
    PrintSetupChoice answer;
    if (!outcome.ran || outcome.exitCode != 0 || !ReadPrintSetup(outcome.output, answer))
        return DialogOutcome::NotShown; // no GTK, no display: the plain dialog asks
    choice = answer;
    return DialogOutcome::Answered;
}

void DesktopUiHost::Notify(const std::string &title, const std::string &text) {
    std::vector<std::string> args = {
        m_notifySend, "--app-name=quillbay", "--icon=dialog-warning", "--", title, text};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = m_notifySend.empty()
                       ? ENOENT
                       : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return m_fallback.Notify(title, text);
    // The page goes on at once; a thread of its own waits for the service's
    // answer (a bus with no service answers after its time-out).
    std::thread([pid, title, text] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            HeadlessUiHost().Notify(title, text);
    }).detach();
}

std::unique_ptr<UiHost> MakeDesktopUiHost() {
    std::string zenity = DesktopUiHost::FindZenity();
    if (zenity.empty()) {
        fprintf(stderr, "quillbay: zenity is not installed; dialogs are answered headless\n");
        return std::make_unique<HeadlessUiHost>();
    }
    return std::make_unique<DesktopUiHost>(zenity);
}

} // namespace platform
