#include "testing/HeadlessBrowser.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TestAccount.h"
#include "testing/TestSupport.h"

extern char **environ;

namespace testing_support {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string HeadlessBrowser::Executable() {
    for (const char *path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return {};
}

std::vector<std::string> HeadlessBrowser::Arguments(const std::string &chromium,
                                                    const std::vector<std::string> &flags) const {
    std::vector<std::string> argv = {chromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-dev-shm-usage",
                                     "--no-default-browser-check",
                                     "--remote-debugging-pipe",
                                     "--user-data-dir=" + m_profile};
    argv.insert(argv.end(), flags.begin(), flags.end());
    argv.push_back("about:blank");
    return argv;
}

void HeadlessBrowser::AwaitStart() {
    // Up once it answers a command.
    if (m_pid > 0 &&
        Command("Browser.getVersion", json::object(), "", std::chrono::seconds(30)).is_null()) {
        EndProcess(m_pid, std::chrono::milliseconds(100));
        m_pid = -1;
    }
}

HeadlessBrowser::HeadlessBrowser(const TestAccount &account, const std::vector<std::string> &flags)
    : m_ownProfile(false) {
    const std::string chromium = Executable();
    static int serial = 0;
    m_profile = account.Home() + "/chromium-" + std::to_string(++serial);
    if (chromium.empty() || !account.Made() ||
        account.Run({"/bin/mkdir", "-m", "0700", m_profile}).exitCode != 0)
        return;
    int in[2], out[2]; // Chromium reads commands on descriptor 3, writes on 4
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return;
    m_pid = account.SpawnWith(Arguments(chromium, flags), {}, {{in[0], 3}, {out[1], 4}});
    close(in[0]);
    close(out[1]);
    m_toBrowser = in[1];
    m_fromBrowser = out[0];
    AwaitStart();
}

HeadlessBrowser::HeadlessBrowser(const std::vector<std::string> &flags) {
    const std::string chromium = Executable();
    m_profile = MakeTempDir("chromium-");
    if (chromium.empty() || m_profile.empty())
        return;
    std::vector<std::string> argv = Arguments(chromium, flags);
    std::vector<char *> args;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    int in[2], out[2]; // Chromium reads commands on descriptor 3, writes on 4
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 3);
    posix_spawn_file_actions_adddup2(&actions, out[1], 4);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_toBrowser = in[1];
    m_fromBrowser = out[0];
    AwaitStart();
}

HeadlessBrowser::~HeadlessBrowser() {
    if (m_pid > 0) {
        Command("Browser.close", json::object(), "", std::chrono::seconds(5));
        EndProcess(m_pid, std::chrono::seconds(5));
    }
    if (m_toBrowser >= 0)
        close(m_toBrowser);
    if (m_fromBrowser >= 0)
        close(m_fromBrowser);
    if (m_ownProfile)
        RemoveTree(m_profile); // an account's goes with the account's home
}

bool HeadlessBrowser::Receive(json &message, Clock::time_point deadline) {
    for (;;) {
        size_t end = m_pending.find('\0');
        if (end != std::string::npos) {
            message = json::parse(m_pending.substr(0, end), nullptr, false);
            m_pending.erase(0, end + 1);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{m_fromBrowser, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[65536];
        ssize_t n = read(m_fromBrowser, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(n));
    }
}

void HeadlessBrowser::Note(const json &event) {
    const std::string method = event.value("method", "");
    const json &params = event.contains("params") ? event["params"] : json();
    if (method == "Runtime.consoleAPICalled") {
        std::string line;
        for (const json &arg : params["args"])
            line += (line.empty() ? "" : " ") + arg.value("value", json()).dump();
        m_console.push_back("console: " + line);
    } else if (method == "Runtime.exceptionThrown") {
        m_console.push_back("exception: " + params["exceptionDetails"].dump());
    } else if (method == "Page.javascriptDialogOpening") {
        m_console.push_back("dialog: " + params.value("message", ""));
        // Answered at once, as a person clicking OK; a page never hangs on it.
        json answer = {{"id", m_nextId++},
                       {"method", "Page.handleJavaScriptDialog"},
                       {"params", {{"accept", true}}},
                       {"sessionId", event.value("sessionId", "")}};
        std::string text = answer.dump() + '\0';
        if (write(m_toBrowser, text.data(), text.size()) < 0)
            m_console.push_back("dialog: not answered");
    }
    m_events.push_back(event);
    if (m_events.size() > 1000)
        m_events.pop_front();
}

json HeadlessBrowser::Command(const std::string &method, const json &params,
                              const std::string &session, std::chrono::milliseconds timeout) {
    const int id = m_nextId++;
    json command = {{"id", id}, {"method", method}, {"params", params}};
    if (!session.empty())
        command["sessionId"] = session;
    std::string text = command.dump() + '\0';
    if (write(m_toBrowser, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return nullptr;
    const auto deadline = Clock::now() + timeout;
    json message;
    while (Receive(message, deadline)) {
        if (message.value("id", 0) == id)
            return message.contains("result") ? message["result"]
                                              : json{{"error", message["error"]}};
        if (message.contains("method"))
            Note(message);
    }
    return nullptr;
}

bool HeadlessBrowser::WaitForEvent(const std::string &method, const std::string &session,
                                   Clock::time_point deadline) {
    auto matches = [&](const json &event) {
        return event.value("method", "") == method && event.value("sessionId", "") == session;
    };
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
        if (matches(*it)) {
            m_events.erase(it);
            return true;
        }
    }
    json message;
    while (Receive(message, deadline)) {
        if (!message.contains("method"))
            continue;
        if (matches(message))
            return true;
        Note(message);
    }
    return false;
}

HeadlessBrowser::Page HeadlessBrowser::Open(const std::string &url,
                                            std::chrono::milliseconds timeout, bool wait) {
    const auto deadline = Clock::now() + timeout;
    Page page;
    json created = Command("Target.createTarget", {{"url", "about:blank"}}, "", timeout);
    if (created.is_null() || !created.contains("targetId"))
        return page;
    page.target = created["targetId"];
    json attached = Command("Target.attachToTarget", {{"targetId", page.target}, {"flatten", true}},
                            "", timeout);
    if (attached.is_null() || !attached.contains("sessionId"))
        return page;
    page.session = attached["sessionId"];
    Command("Page.enable", json::object(), page.session, timeout);
    Command("Runtime.enable", json::object(), page.session, timeout);
    Command("Page.navigate", {{"url", url}}, page.session, timeout);
    if (wait && !WaitForEvent("Page.loadEventFired", page.session, deadline))
        m_console.push_back("no load event for " + url);
    return page;
}

json HeadlessBrowser::Evaluate(const Page &page, const std::string &expression,
                               std::chrono::milliseconds timeout) {
    json result = Command("Runtime.evaluate",
                          {{"expression", expression},
                           {"awaitPromise", true},
                           {"returnByValue", true},
                           {"timeout", timeout.count()}},
                          page.session, timeout + std::chrono::seconds(5));
    if (result.is_null())
        return {{"timeout", true}};
    if (result.contains("exceptionDetails")) {
        const json &details = result["exceptionDetails"];
        std::string text = details.value("text", "");
        if (details.contains("exception"))
            text += " " + details["exception"].value("description", "");
        return {{"exception", text}};
    }
    if (result.contains("error"))
        return {{"exception", result["error"].dump()}};
    return result["result"].value("value", json());
}

void HeadlessBrowser::Close(const Page &page) {
    if (!page.target.empty())
        Command("Target.closeTarget", {{"targetId", page.target}}, "", std::chrono::seconds(10));
}

bool HeadlessBrowser::SetPermission(const std::string &name, const std::string &setting,
                                    const std::string &origin) {
    json result =
        Command("Browser.setPermission",
                {{"permission", {{"name", name}}}, {"setting", setting}, {"origin", origin}}, "",
                std::chrono::seconds(10));
    return result.is_object() && !result.contains("error");
}

} // namespace testing_support
