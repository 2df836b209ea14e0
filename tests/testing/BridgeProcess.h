// A quillbay-bridge process for a test: started in the foreground on a free
// port (or a given one), its log kept in a file, stopped (or killed) by the
// test. It runs with the test's environment (QUILLBAY_HOME and the rest).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class TestAccount;

class BridgeProcess {
public:
    BridgeProcess(const std::string &program, const std::vector<std::string> &args = {},
                  unsigned short port = 0);
    // The same, run as another account with `env` ("NAME=VALUE") added to
    // its environment; its token is in the account's QUILLBAY_HOME.
    BridgeProcess(const TestAccount &account, const std::string &program,
                  const std::vector<std::string> &args, unsigned short port,
                  const std::vector<std::string> &env = {});
    ~BridgeProcess();
    BridgeProcess(const BridgeProcess &) = delete;
    BridgeProcess &operator=(const BridgeProcess &) = delete;

    bool Ready() const { return m_port != 0; }
    unsigned short Port() const { return m_port; }
    int Pid() const { return m_pid; }
    // "http://127.0.0.1:P"
    std::string Address() const;
    // The token local programs send, from the bridge's token file.
    std::string Token() const;
    // What the bridge logged so far.
    std::string Log() const;
    // Ends it with SIGTERM and gives its exit code; Kill ends it with SIGKILL.
    int Stop();
    void Kill();
    // Sends SIGTERM and returns at once; Wait then gives the exit code.
    void Terminate();
    int Wait();

private:
    int m_pid = -1;
    unsigned short m_port = 0;
    std::string m_logPath;
    std::string m_home; // the account's QUILLBAY_HOME; empty: the test's
};

} // namespace testing_support
