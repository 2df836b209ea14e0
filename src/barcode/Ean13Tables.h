// EAN-13 symbol patterns, ISO/IEC 15420 Table 1 (number sets A, B and C)
// and Table 3 (the first digit's parity pattern).
#pragma once

#include <array>

namespace ean13 {

// Element widths in modules: space, bar, space, bar.
using Digit = std::array<unsigned char, 4>;

// Number set A (left half, odd parity).
inline constexpr std::array<Digit, 10> kSetA = {{
    {3, 2, 1, 1}, {2, 2, 2, 1}, {2, 1, 2, 2}, {1, 4, 1, 1}, {1, 1, 3, 2},
    {1, 2, 3, 1}, {1, 1, 1, 4}, {1, 3, 1, 2}, {1, 2, 1, 3}, {3, 1, 1, 2},
}};

// Number set B (left half, even parity): set A's widths in reverse.
inline constexpr std::array<Digit, 10> kSetB = {{
    {1, 1, 2, 3}, {1, 2, 2, 2}, {2, 2, 1, 2}, {1, 1, 4, 1}, {2, 3, 1, 1},
    {1, 3, 2, 1}, {4, 1, 1, 1}, {2, 1, 3, 1}, {3, 1, 2, 1}, {2, 1, 1, 3},
}};

// Number set C (right half), stored as 0, bar, space, bar: the leading space
// is zero and the trailing one-module space is left to the 7-module advance.
inline constexpr std::array<Digit, 10> kSetC = {{
    {0, 3, 2, 1}, {0, 2, 2, 2}, {0, 2, 1, 2}, {0, 1, 4, 1}, {0, 1, 1, 3},
    {0, 1, 2, 3}, {0, 1, 1, 1}, {0, 1, 3, 1}, {0, 1, 2, 1}, {0, 3, 1, 1},
}};

// Parity of the six left-half digits for each first digit: 0 set A, 1 set B.
inline constexpr std::array<std::array<unsigned char, 6>, 10> kParity = {{
    {0, 0, 0, 0, 0, 0}, {0, 0, 1, 0, 1, 1}, {0, 0, 1, 1, 0, 1}, {0, 0, 1, 1, 1, 0},
    {0, 1, 0, 0, 1, 1}, {0, 1, 1, 0, 0, 1}, {0, 1, 1, 1, 0, 0}, {0, 1, 0, 1, 0, 1},
    {0, 1, 0, 1, 1, 0}, {0, 1, 1, 0, 1, 0},
}};

// Sets A and B fill their 7 modules; set C leaves at least a one-module
// space at the end.
constexpr bool Fits(const std::array<Digit, 10> &set, bool trailingSpace) {
    for (const Digit &d : set) {
        const int used = d[0] + d[1] + d[2] + d[3];
        if (trailingSpace ? used > 6 : used != 7)
            return false;
    }
    return true;
}
static_assert(Fits(kSetA, false) && Fits(kSetB, false) && Fits(kSetC, true),
              "every EAN-13 digit takes 7 modules");

} // namespace ean13
