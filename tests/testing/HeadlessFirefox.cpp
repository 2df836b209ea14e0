#include "testing/HeadlessFirefox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "testing/TestSupport.h"

extern char **environ;

namespace testing_support {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// A quiet profile: no first-run pages, updates, reports or checks of its own
// on the network; and a port of its choosing for Marionette.
const json kQuietPreferences = {
    {"marionette.port", 0},
    {"browser.shell.checkDefaultBrowser", false},
    {"browser.startup.homepage_override.mstone", "ignore"},
    {"browser.aboutwelcome.enabled", false},
    {"datareporting.policy.dataSubmissionEnabled", false},
    {"toolkit.telemetry.reportingpolicy.firstRun", false},
    {"app.update.disabledForTesting", true},
    {"app.normandy.enabled", false},
    {"extensions.update.enabled", false},
    {"network.captive-portal-service.enabled", false},
    {"network.connectivity-service.enabled", false},
    {"browser.safebrowsing.update.enabled", false},
};

std::string UserJs(const json &preferences) {
    std::string text;
    for (const json *set : {&kQuietPreferences, &preferences}) {
        for (auto it = set->begin(); it != set->end(); ++it)
            text += "user_pref(" + json(it.key()).dump() + ", " + it.value().dump() + ");\n";
    }
    return text;
}

} // namespace

std::string HeadlessFirefox::Executable() {
    return access("/usr/bin/firefox-esr", X_OK) == 0 ? "/usr/bin/firefox-esr" : "";
}

HeadlessFirefox::HeadlessFirefox(const json &preferences) {
    const std::string firefox = Executable();
    m_profile = MakeTempDir("firefox-");
    if (firefox.empty() || m_profile.empty())
        return;
    WriteFile(m_profile + "/user.js", UserJs(preferences));
    std::vector<std::string> argv = {firefox,     "--headless", "--marionette", "--no-remote",
                                     "--profile", m_profile,    "about:blank"};
    std::vector<char *> args;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    if (m_pid > 0 && !Connect(std::chrono::seconds(60))) {
        if (m_socket >= 0)
            close(m_socket);
        m_socket = -1;
    }
}

HeadlessFirefox::~HeadlessFirefox() {
    if (m_socket >= 0) {
        Command("WebDriver:DeleteSession", json::object(), std::chrono::seconds(5));
        close(m_socket);
    }
    if (m_pid > 0)
        EndProcess(m_pid, std::chrono::seconds(10));
    RemoveTree(m_profile);
}

// Waits for the port in the profile, connects, reads the greeting and opens
// the session (self-signed certificates taken, as the HTTPS pages need).
bool HeadlessFirefox::Connect(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int port = 0;
    while (Clock::now() < deadline) {
        const std::string text = ReadFile(m_profile + "/MarionetteActivePort");
        if (!text.empty() && (port = atoi(text.c_str())) > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (port <= 0 || (m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return false;
    json greeting;
    if (!Receive(greeting, deadline) || !greeting.contains("marionetteProtocol"))
        return false;
    json session = Command("WebDriver:NewSession", {{"acceptInsecureCerts", true}}, timeout);
    return session.is_object() && session.contains("capabilities") &&
           !Command("WebDriver:SetTimeouts", {{"pageLoad", 30000}}, timeout).contains("error");
}

bool HeadlessFirefox::Receive(json &message, Clock::time_point deadline) {
    for (;;) {
        const size_t colon = m_pending.find(':');
        if (colon != std::string::npos) {
            const size_t length = std::stoul(m_pending.substr(0, colon));
            if (m_pending.size() >= colon + 1 + length) {
                message = json::parse(m_pending.substr(colon + 1, length), nullptr, false);
                m_pending.erase(0, colon + 1 + length);
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fd{m_socket, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[65536];
        ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(n));
    }
}

// A command's value, {"error": ...} when it failed, or null without an
// answer in time.
json HeadlessFirefox::Command(const std::string &name, const json &parameters,
                              std::chrono::milliseconds timeout) {
    const int id = m_nextId++;
    const std::string body = json::array({0, id, name, parameters}).dump();
    const std::string text = std::to_string(body.size()) + ":" + body;
    if (send(m_socket, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()))
        return nullptr;
    const auto deadline = Clock::now() + timeout;
    json reply;
    while (Receive(reply, deadline)) {
        if (!reply.is_array() || reply.size() != 4 || reply[0] != 1 || reply[1] != id)
            continue; // an answer to an earlier command that ran out of time
        return reply[2].is_null() ? reply[3] : json{{"error", reply[2]}};
    }
    return nullptr;
}

bool HeadlessFirefox::Open(const std::string &url) {
    json result = Command("WebDriver:Navigate", {{"url", url}}, std::chrono::seconds(40));
    return result.is_object() && !result.contains("error");
}

json HeadlessFirefox::Evaluate(const std::string &expression, std::chrono::milliseconds timeout) {
    // The expression runs in the page; its value, once settled, goes back
    // through the script's callback.
    const std::string script = "const quillbayDone = arguments[arguments.length - 1];\n"
                               "Promise.resolve().then(() => (" +
                               expression +
                               ")).then(v => quillbayDone({value: v}),\n"
                               "  e => quillbayDone({exception: String(e)}));";
    Command("WebDriver:SetTimeouts", {{"script", timeout.count()}}, std::chrono::seconds(10));
    json result =
        Command("WebDriver:ExecuteAsyncScript", {{"script", script}, {"args", json::array()}},
                timeout + std::chrono::seconds(5));
    if (result.is_null())
        return {{"timeout", true}};
    if (result.contains("error"))
        return {{"exception", result["error"].dump()}};
    const json &outcome = result.value("value", json());
    if (outcome.is_object() && outcome.contains("exception"))
        return {{"exception", outcome["exception"]}};
    return outcome.is_object() ? outcome.value("value", json()) : json();
}

} // namespace testing_support
