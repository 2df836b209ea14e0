#include "UiHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// Reads a line from the terminal, without echo for a secret.
bool ReadLine(bool secret, std::string &line) {
    termios saved{};
    bool quiet = secret && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    bool read = static_cast<bool>(std::getline(std::cin, line));
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        fprintf(stderr, "\n");
    }
    return read;
}

class ConsoleUiHost : public UiHost {
public:
    int MessageBox(HWND, const std::string &text, const std::string &caption, UINT type) override {
        std::vector<MessageBoxButton> buttons = MessageBoxButtons(type);
        fprintf(stderr, "\n== %s (%s) ==\n%s\n", caption.c_str(), MessageBoxIcon(type),
                text.c_str());
        for (;;) {
            for (const MessageBoxButton &b : buttons)
                fprintf(stderr, "  [%c] %s", b.key, b.label);
            fprintf(stderr, "\n> ");
            std::string line;
            if (!std::getline(std::cin, line))
                return DefaultButton(type);
            if (line.empty())
                return buttons.front().id;
            for (const MessageBoxButton &b : buttons) {
                if (tolower(static_cast<unsigned char>(line[0])) == b.key)
                    return b.id;
            }
        }
    }
    int Choose(const std::string &title, const std::vector<std::string> &options,
               int preset) override {
        fprintf(stderr, "\n== %s ==\n", title.c_str());
        for (size_t i = 0; i < options.size(); ++i)
            fprintf(stderr, "  %zu%s %s\n", i + 1, static_cast<int>(i) == preset ? "*" : " ",
                    options[i].c_str());
        fprintf(stderr, "Number (Enter for the marked one, c to cancel)> ");
        std::string line;
        if (!std::getline(std::cin, line) || line == "c" || line == "C")
            return -1;
        if (line.empty())
            return preset;
        long n = strtol(line.c_str(), nullptr, 10);
        return n >= 1 && n <= static_cast<long>(options.size()) ? static_cast<int>(n - 1) : -1;
    }
    bool Ask(const std::string &title, const std::string &prompt, bool secret,
             std::string &answer) override {
        fprintf(stderr, "\n== %s ==\n%s (end of input to cancel)> ", title.c_str(), prompt.c_str());
        return ReadLine(secret, answer);
    }
};

std::unique_ptr<UiHost> MakeHost() {
    const char *mode = getenv("QUILLBAY_UI");
    std::string name = mode ? mode : "";
    if (name == "scripted")
        return std::make_unique<ScriptedUiHost>();
    if (name == "headless")
        return std::make_unique<HeadlessUiHost>();
    if (name == "desktop")
        return MakeDesktopUiHost();
    if (name == "console" || (name.empty() && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)))
        return std::make_unique<ConsoleUiHost>();
    return std::make_unique<HeadlessUiHost>();
}

std::mutex &HostLock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::unique_ptr<UiHost> &HostSlot() {
    static auto *slot = new std::unique_ptr<UiHost>;
    return *slot;
}

} // namespace

const char *MessageBoxIcon(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "error";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONWARNING:
        return "warning";
    case MB_ICONINFORMATION:
        return "information";
    default:
        return "message";
    }
}

std::vector<MessageBoxButton> MessageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{IDOK, 'o', "OK"}, {IDCANCEL, 'c', "Cancel"}};
    case MB_ABORTRETRYIGNORE:
        return {{IDABORT, 'a', "Abort"}, {IDRETRY, 'r', "Retry"}, {IDIGNORE, 'i', "Ignore"}};
    case MB_YESNOCANCEL:
        return {{IDYES, 'y', "Yes"}, {IDNO, 'n', "No"}, {IDCANCEL, 'c', "Cancel"}};
    case MB_YESNO:
        return {{IDYES, 'y', "Yes"}, {IDNO, 'n', "No"}};
    case MB_RETRYCANCEL:
        return {{IDRETRY, 'r', "Retry"}, {IDCANCEL, 'c', "Cancel"}};
    default:
        return {{IDOK, 'o', "OK"}};
    }
}

int DefaultButton(UINT type) {
    return MessageBoxButtons(type).front().id;
}

int HeadlessUiHost::MessageBox(HWND, const std::string &text, const std::string &caption,
                               UINT type) {
    fprintf(stderr, "[%s] %s: %s\n", MessageBoxIcon(type), caption.c_str(), text.c_str());
    return DefaultButton(type);
}

int HeadlessUiHost::Choose(const std::string &title, const std::vector<std::string> &options,
                           int preset) {
    if (preset >= 0 && preset < static_cast<int>(options.size())) {
        fprintf(stderr, "[choice] %s: %s\n", title.c_str(), options[preset].c_str());
        return preset;
    }
    fprintf(stderr, "[choice] %s: cancelled (no preset)\n", title.c_str());
    return -1;
}

bool HeadlessUiHost::Ask(const std::string &title, const std::string &prompt, bool, std::string &) {
    fprintf(stderr, "[question] %s: %s: cancelled (no answer)\n", title.c_str(), prompt.c_str());
    return false;
}

void HeadlessUiHost::Notify(const std::string &title, const std::string &text) {
    fprintf(stderr, "[notice] %s: %s\n", title.c_str(), text.c_str());
}

bool UiHost::Ask(const std::string &, const std::string &, bool, std::string &) {
    return false;
}

DialogOutcome UiHost::PrintSetup(const std::string &, PrintSetupChoice &) {
    return DialogOutcome::NotShown;
}

void UiHost::Notify(const std::string &title, const std::string &text) {
    fprintf(stderr, "quillbay: %s: %s\n", title.c_str(), text.c_str());
}

std::string FindProgram(const std::string &name) {
    const char *path = getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

UiHost &UiHost::Current() {
    std::lock_guard<std::mutex> guard(HostLock());
    if (!HostSlot())
        HostSlot() = MakeHost();
    return *HostSlot();
}

void UiHost::Install(std::unique_ptr<UiHost> host) {
    std::lock_guard<std::mutex> guard(HostLock());
    HostSlot() = std::move(host);
}

ScriptedUiHost::ScriptedUiHost() {
    if (const char *answers = getenv("QUILLBAY_UI_ANSWERS")) {
        std::string list = answers;
        size_t start = 0;
        while (start < list.size()) {
            size_t end = list.find(',', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                m_answers.push_back(atoi(list.substr(start, end - start).c_str()));
            start = end + 1;
        }
    }
    if (const char *texts = getenv("QUILLBAY_UI_TEXTS")) {
        std::string list = texts;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find('\n', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start || end < list.size())
                m_texts.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    if (const char *log = getenv("QUILLBAY_UI_LOG"))
        m_logPath = log;
}

void ScriptedUiHost::Log(const std::string &line) {
    if (m_logPath.empty())
        return;
    if (FILE *log = fopen(m_logPath.c_str(), "a")) {
        fprintf(log, "%s\n", line.c_str());
        fclose(log);
    }
}

int ScriptedUiHost::MessageBox(HWND owner, const std::string &text, const std::string &caption,
                               UINT type) {
    std::lock_guard<std::mutex> guard(m_lock);
    int answer = DefaultButton(type);
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    m_shown.push_back(ShownMessageBox{owner, text, caption, type, answer});
    Log("box\t" + std::to_string(type) + "\t" + caption + "\t" + text + "\t" +
        std::to_string(answer));
    return answer;
}

int ScriptedUiHost::Choose(const std::string &title, const std::vector<std::string> &options,
                           int preset) {
    std::lock_guard<std::mutex> guard(m_lock);
    int answer = preset;
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    if (answer >= static_cast<int>(options.size()))
        answer = -1;
    std::string asked = title + ":";
    for (size_t i = 0; i < options.size(); ++i)
        asked += (i ? "|" : " ") + options[i];
    m_asked.push_back(asked);
    Log("choice\t" + title + "\t" + std::to_string(answer));
    return answer;
}

bool ScriptedUiHost::Ask(const std::string &title, const std::string &prompt, bool secret,
                         std::string &answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_asked.push_back(title + ": " + prompt);
    if (m_texts.empty()) {
        Log("question\t" + title + "\t" + prompt + "\t(cancelled)");
        return false;
    }
    answer = m_texts.front();
    m_texts.pop_front();
    Log("question\t" + title + "\t" + prompt + "\t" + (secret ? "***" : answer));
    return true;
}

void ScriptedUiHost::Notify(const std::string &title, const std::string &text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_notices.push_back(ShownNotice{title, text});
    Log("notice\t" + title + "\t" + text);
}

std::vector<ShownNotice> ScriptedUiHost::Notices() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_notices;
}

void ScriptedUiHost::QueueText(const std::string &text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_texts.push_back(text);
}

std::vector<std::string> ScriptedUiHost::Asked() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_asked;
}

void ScriptedUiHost::Queue(int answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.push_back(answer);
}

std::vector<ShownMessageBox> ScriptedUiHost::Shown() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shown;
}

void ScriptedUiHost::Forget() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_shown.clear();
    m_answers.clear();
    m_texts.clear();
    m_asked.clear();
    m_notices.clear();
}

} // namespace platform
