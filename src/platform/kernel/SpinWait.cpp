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

std::chrono::nanoseconds SpinWait::Allowance() {
    if (m_budget.count() > 0)
        return m_budget;
    if (++m_idle < kProbe)
        return m_budget;
    m_idle = 0;
    return kLongest;
}

void SpinWait::Learn(std::chrono::nanoseconds waited) {
    if (m_spun.count() > 0 && waited <= m_spun)
        m_budget = std::min(kLongest, std::max(m_budget, 2 * waited));
    else if (m_spun.count() > 0)
        m_budget /= 2;
    // A halved budget too short to catch anything is none at all.
    if (m_budget < std::chrono::microseconds(2))
        m_budget = std::chrono::nanoseconds(0);
}

} // namespace platform
