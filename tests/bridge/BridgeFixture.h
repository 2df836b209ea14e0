// What the bridge's tests share: the module registered in the test run's
// registry, a bridge started with chosen options and UI answers, and the
// bridge's status.
#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "BridgeClient.h"
#include "testing/BridgeProcess.h"
#include "testing/TestSupport.h"

// AddressSanitizer holds freed memory back for a while: the bridge's
// resident size says little under it.
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace bridge_test {

class BridgeFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH}).exitCode, 0);
    }
    void SetUp() override {
        m_dir = testing_support::MakeTempDir("bridge-");
        setenv("QUILLBAY_PRINT_DIR", (m_dir + "/prints").c_str(), 1);
        setenv("QUILLBAY_PRINTER", "Quillbay PDF", 1);
        setenv("QUILLBAY_UI", "scripted", 1);
        setenv("QUILLBAY_UI_LOG", (m_dir + "/ui.log").c_str(), 1);
        unsetenv("QUILLBAY_UI_ANSWERS");
    }
    void TearDown() override {
        StopBridge();
        unsetenv("QUILLBAY_UI_LOG");
        unsetenv("QUILLBAY_UI_ANSWERS");
        testing_support::RemoveTree(m_dir);
    }

    // Stops the running bridge, which must end cleanly: a crash or a
    // sanitizer's report (a leak at the end included) gives another exit code.
    void StopBridge() {
        if (m_bridge && m_bridge->Pid() > 0) {
            EXPECT_EQ(m_bridge->Stop(), 0) << m_bridge->Log();
        }
        m_bridge.reset();
    }

    // Starts the bridge; `answers` are the consent answers in order (0 allow
    // this time, 1 allow always, 2 block).
    testing_support::BridgeProcess &Start(const std::vector<std::string> &args = {},
                                          const std::string &answers = "",
                                          unsigned short port = 0) {
        StopBridge(); // one bridge per user: the last one stops first
        if (!answers.empty())
            setenv("QUILLBAY_UI_ANSWERS", answers.c_str(), 1);
        m_bridge = std::make_unique<testing_support::BridgeProcess>(BRIDGE_PATH, args, port);
        unsetenv("QUILLBAY_UI_ANSWERS");
        EXPECT_TRUE(m_bridge->Ready()) << m_bridge->Log();
        return *m_bridge;
    }
    unsigned short Port() const { return m_bridge->Port(); }
    std::string Token() const { return m_bridge->Token(); }
    Headers Local() const { return TokenHeader(Token()); }
    nlohmann::json Status() const {
        return SendHttp(Port(), boost::beast::http::verb::get, "/status", "", Local()).Json();
    }
    // Allows an origin in the registry, as the user does with the bridge's
    // command line.
    static void Allow(const std::string &origin) {
        ASSERT_EQ(testing_support::Run({BRIDGE_PATH, "--allow", origin}).exitCode, 0);
    }
    // The consent questions asked so far (lines of the UI log).
    std::vector<std::string> Questions() const {
        std::vector<std::string> lines;
        std::string log = testing_support::ReadFile(m_dir + "/ui.log"), line;
        for (char c : log) {
            if (c != '\n') {
                line += c;
            } else {
                if (line.rfind("choice\t", 0) == 0)
                    lines.push_back(line);
                line.clear();
            }
        }
        return lines;
    }

    // Waits (asking the bridge every 10 ms, so that events come in) for an
    // event after the first `from` that matches; its index, or -1.
    static int WaitForEvent(BridgeSocket &socket, size_t from,
                            const std::function<bool(const nlohmann::json &)> &matches,
                            int seconds = 60) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            const auto &events = socket.Events();
            for (size_t i = from; i < events.size(); ++i) {
                if (matches(events[i]))
                    return static_cast<int>(i);
            }
            socket.Request({{"op", "ping"}});
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    std::string m_dir;
    std::unique_ptr<testing_support::BridgeProcess> m_bridge;
};

} // namespace bridge_test
