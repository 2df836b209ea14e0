#include <chrono>
#include <gtest/gtest.h>

#include "platform/kernel/SpinWait.h"

using platform::SpinWait;
using namespace std::chrono_literals;

namespace {

// How many times a spin asks whether its hand-off came, when it never does.
int Asks(SpinWait &spin) {
    int asked = 0;
    spin.Spin([&] {
        ++asked;
        return false;
    });
    return asked;
}

} // namespace

TEST(SpinWait, SpinsOnlyAfterShortWaitsAndStopsAfterLongOnes) {
    SpinWait spin;
    EXPECT_EQ(Asks(spin), 1) << "a new waiter has learnt nothing and only looks once";
    spin.Learn(20us); // a quick hand-off, slept through
    if (SpinWait::Enabled())
        EXPECT_GT(Asks(spin), 1);
    else
        EXPECT_EQ(Asks(spin), 1) << "on one processor nothing spins";
    // Long waits halve the budget until none is left: 40, 20, 10, 5, 2.5 µs,
    // then nothing.
    for (int i = 0; i < 5; ++i)
        spin.Learn(5ms);
    EXPECT_EQ(Asks(spin), 1);
}

TEST(SpinWait, ASpinEndsAsSoonAsItsHandOffComes) {
    SpinWait spin;
    spin.Learn(100us);
    int asked = 0;
    EXPECT_TRUE(spin.Spin([&] { return ++asked == 3; }) || !SpinWait::Enabled());
    EXPECT_LE(asked, 3);
}
