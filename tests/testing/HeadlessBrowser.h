// Debian's Chromium, headless, driven through the DevTools protocol on a
// pipe: pages are opened, their scripts' results read back (a Promise's
// value included). Each browser gets a fresh profile in a temporary folder.
#pragma once

#include <chrono>
#include <deque>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace testing_support {

class TestAccount;

class HeadlessBrowser {
public:
    // Starts Chromium with the extra flags; Ready() says whether it came up.
    explicit HeadlessBrowser(const std::vector<std::string> &flags = {});
    // The same, run as another account, its profile in the account's home.
    HeadlessBrowser(const TestAccount &account, const std::vector<std::string> &flags = {});
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser &) = delete;
    HeadlessBrowser &operator=(const HeadlessBrowser &) = delete;

    bool Ready() const { return m_pid > 0; }
    // Where Chromium is, or empty when it is not installed.
    static std::string Executable();

    struct Page {
        std::string target;  // the tab's target ID
        std::string session; // the DevTools session attached to it
    };
    // Opens a tab on `url` and waits up to `timeout` for its load event
    // (unless `wait` is false); the page's console and errors are kept
    // (Console()).
    Page Open(const std::string &url, std::chrono::milliseconds timeout = std::chrono::seconds(30),
              bool wait = true);
    // Evaluates an expression in the page; a Promise is awaited. Gives the
    // value, or {"exception": text} when it threw, or {"timeout": true}.
    nlohmann::json Evaluate(const Page &page, const std::string &expression,
                            std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void Close(const Page &page);
    // Sets a permission of the profile for an origin, as the user's answer to
    // the browser's question would ("granted", "denied", "prompt"); false
    // when the browser did not take it.
    bool SetPermission(const std::string &name, const std::string &setting,
                       const std::string &origin);
    // What the pages printed on their consoles and the errors they raised.
    std::vector<std::string> Console() const { return m_console; }

private:
    std::vector<std::string> Arguments(const std::string &chromium,
                                       const std::vector<std::string> &flags) const;
    // Waits for the started browser to answer; ends it when it does not.
    void AwaitStart();
    nlohmann::json Command(const std::string &method, const nlohmann::json &params,
                           const std::string &session, std::chrono::milliseconds timeout);
    bool Receive(nlohmann::json &message, std::chrono::steady_clock::time_point deadline);
    bool WaitForEvent(const std::string &method, const std::string &session,
                      std::chrono::steady_clock::time_point deadline);
    void Note(const nlohmann::json &event);

    int m_pid = -1;
    int m_toBrowser = -1, m_fromBrowser = -1;
    int m_nextId = 1;
    std::string m_profile;
    bool m_ownProfile = true; // made by MakeTempDir, removed at the end
    std::string m_pending;    // bytes read past the last message
    std::deque<nlohmann::json> m_events;
    std::vector<std::string> m_console;
};

} // namespace testing_support
