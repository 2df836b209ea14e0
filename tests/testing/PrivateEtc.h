// A machine's /etc for one test that nothing else sees: the calling thread,
// and every program it starts from then on (a tool, a browser), runs in a
// mount namespace of its own in which /etc is an overlay. The machine's
// files show through; whatever is written under /etc lands in a folder of
// the test's own, in memory, and goes with it. The real /etc is never
// written, and no other process (another test, a browser of the machine's)
// sees the test's files. Needs root. The thread goes back to the machine's
// namespace on destruction.
#pragma once

#include <string>

namespace testing_support {

class PrivateEtc {
public:
    PrivateEtc();
    ~PrivateEtc();
    PrivateEtc(const PrivateEtc &) = delete;
    PrivateEtc &operator=(const PrivateEtc &) = delete;

    // False (with the reason) when the namespace or the overlay could not
    // be made; the thread then stays in the machine's namespace.
    bool Ready(std::string &why) const;

private:
    bool Enter();
    void Leave();

    int m_machine = -1; // the machine's mount namespace
    int m_cwd = -1;     // the working folder, kept across the namespaces
    bool m_entered = false;
    std::string m_dir, m_why;
};

} // namespace testing_support
