// Reed-Solomon generator coefficients of ISO/IEC 15438 for error correction
// levels 0 to 8: (x - 3)(x - 3^2)...(x - 3^k) mod 929, k = 2^(level + 1).
#pragma once

#include <array>

namespace pdf417 {

inline constexpr int kModulus = 929;
inline constexpr int kMaxErrorLevel = 8;

// Level L's k coefficients sit at offset k - 2, lowest order first, without
// the polynomial's leading 1: 2 + 4 + ... + 512 = 1022 in all.
inline constexpr int kCoefficientCount = 1022;

constexpr int ErrorCodewords(int level) { return 2 << level; }
constexpr int CoefficientOffset(int level) { return ErrorCodewords(level) - 2; }

// The levels' generators nest: level L's is level L - 1's times its next
// factors, so one product up to degree 512 gives them all on the way.
constexpr std::array<int, kCoefficientCount> MakeCoefficients() {
    std::array<int, kCoefficientCount> table{};
    int poly[513] = {1}; // poly[i] is the coefficient of x^i
    int root = 1, level = 0;
    for (int degree = 1; degree <= ErrorCodewords(kMaxErrorLevel); ++degree) {
        root = root * 3 % kModulus;
        // Multiply by (x - root).
        const int minus = kModulus - root;
        for (int i = degree; i > 0; --i)
            poly[i] = (poly[i - 1] + minus * poly[i]) % kModulus;
        poly[0] = minus * poly[0] % kModulus;
        if (degree == ErrorCodewords(level)) {
            for (int i = 0; i < degree; ++i)
                table[static_cast<size_t>(CoefficientOffset(level) + i)] = poly[i];
            ++level;
        }
    }
    return table;
}

inline constexpr std::array<int, kCoefficientCount> kErrorCoefficients = MakeCoefficients();

static_assert(kErrorCoefficients[0] == 27 && kErrorCoefficients[1] == 917,
              "level 0 is x^2 - 12x + 27");
static_assert(kErrorCoefficients[2] == 522 && kErrorCoefficients[5] == 809, "level 1");

} // namespace pdf417
