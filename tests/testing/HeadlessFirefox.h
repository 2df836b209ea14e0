// Debian's Firefox ESR, headless, driven through Marionette (its remote
// protocol: length-prefixed JSON commands on a loopback port the browser
// picks and writes into its profile). Each browser gets a fresh profile in
// a temporary folder, with the preferences given written into its user.js;
// it has one window, whose page is opened and whose scripts' results are
// read back (a Promise's value included).
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace testing_support {

class HeadlessFirefox {
public:
    explicit HeadlessFirefox(const nlohmann::json &preferences = nlohmann::json::object());
    ~HeadlessFirefox();
    HeadlessFirefox(const HeadlessFirefox &) = delete;
    HeadlessFirefox &operator=(const HeadlessFirefox &) = delete;

    // Whether it came up and opened its session.
    bool Ready() const { return m_socket >= 0; }
    // Where Firefox ESR is, or empty when it is not installed.
    static std::string Executable();

    // Opens `url` in the window and waits for its load; false when it did
    // not load (an error page, a time-out).
    bool Open(const std::string &url);
    // Evaluates an expression in the page; a Promise is awaited. Gives the
    // value, or {"exception": text} when it threw, or {"timeout": true}.
    nlohmann::json Evaluate(const std::string &expression,
                            std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    nlohmann::json Command(const std::string &name, const nlohmann::json &parameters,
                           std::chrono::milliseconds timeout);
    bool Receive(nlohmann::json &message, std::chrono::steady_clock::time_point deadline);
    bool Connect(std::chrono::milliseconds timeout);

    int m_pid = -1;
    int m_socket = -1;
    int m_nextId = 1;
    std::string m_profile;
    std::string m_pending; // bytes read past the last message
};

} // namespace testing_support
