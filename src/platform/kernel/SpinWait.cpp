#include "SpinWait.h"

#include <algorithm>
#include <unistd.h>

namespace platform {

bool SpinWait::Enabled() {
    static const bool enabled = sysconf(_SC_NPROCESSORS_ONLN) > 1;
    return enabled;
}

void SpinWait::Relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void SpinWait::Learn(std::chrono::nanoseconds waited) {
    // Every wait teaches, spun or slept: one that ended within the longest
    // spin would have been caught by a spin twice as long as it took; a
    // longer one halves the budget.
    if (waited <= kLongest)
        m_budget = std::min(kLongest, 2 * waited);
    else
        m_budget /= 2;
    // A halved budget too short to catch anything is none at all.
    if (m_budget < std::chrono::microseconds(2))
        m_budget = std::chrono::nanoseconds(0);
}

} // namespace platform
