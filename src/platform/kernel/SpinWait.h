// A short, bounded spin before a thread goes to sleep waiting for another
// thread of the process.
//
// Some hand-offs between two threads take only microseconds: the Internet
// API's worker completing a call its application thread has just started,
// or the application starting the next call right after a completion.
// Putting the waiting thread to sleep and waking it costs more than that
// (two system calls, a scheduler pass, on a virtual machine an interrupt
// between processors). A waiter that expects the hand-off soon watches for
// it instead, for a while.
//
// How long to watch is learnt from the owner's own waits (one thread's
// waits, or one worker's), spun or slept: a wait that ended within kLongest
// lets the next spin last twice as long as it took (at most kLongest), a
// longer wait halves the next spin, down to none at all. So a thread whose
// waits are long (a slow server, or a busy machine where spinning would
// only take the processor from the thread it waits for) soon stops
// spinning, and one whose hand-offs come quickly sleeps only when they do
// not; the processor time a spin can waste is bounded by the waits it
// learnt from. On a machine with a single processor nothing spins: the
// thread that would end the wait could not run meanwhile.
#pragma once

#include <chrono>

namespace platform {

class SpinWait {
public:
    using Clock = std::chrono::steady_clock;
    // Longer than a loopback HTTP exchange on a virtual machine, far
    // shorter than a scheduler's time slice.
    static constexpr std::chrono::nanoseconds kLongest = std::chrono::microseconds(200);

    // Spins until ready() answers true (true) or the budget is spent
    // (false). ready() must be cheap and must not block. Every spin is to be
    // followed by Learn once the wait is over.
    template <class Ready> bool Spin(Ready ready) {
        if (!Enabled() || m_budget.count() == 0)
            return ready();
        const Clock::time_point until = Clock::now() + m_budget;
        for (unsigned turn = 1;; ++turn) {
            if (ready())
                return true;
            // The clock is read only now and then; a read costs more than
            // a turn.
            if (turn % 32 == 0 && Clock::now() >= until)
                return false;
            Relax();
        }
    }

    // The wait that started at start ended now, by spinning or sleeping.
    void Learn(Clock::time_point start) { Learn(Clock::now() - start); }
    void Learn(std::chrono::nanoseconds waited);

    // Whether spinning can help on this machine at all.
    static bool Enabled();

private:
    static void Relax();

    std::chrono::nanoseconds m_budget{0};
};

} // namespace platform
