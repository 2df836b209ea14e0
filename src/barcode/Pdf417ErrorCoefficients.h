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

constexpr std::array<int, kCoefficientCount> MakeCoefficients() {
    std::array<int, kCoefficientCount> table{};
    for (int level = 0; level <= kMaxErrorLevel; ++level) {
        const int k = ErrorCodewords(level);
        std::array<int, 513> poly{}; // poly[i] is the coefficient of x^i
        poly[0] = 1;
        int root = 1;
        for (int degree = 1; degree <= k; ++degree) {
            root = root * 3 % kModulus;
            // Multiply by (x - root).
            for (int i = degree; i >= 0; --i) {
                const int shifted = i > 0 ? poly[i - 1] : 0;
                poly[i] = (shifted + (kModulus - root) * poly[i]) % kModulus;
            }
        }
        for (int i = 0; i < k; ++i)
            table[CoefficientOffset(level) + i] = poly[i];
    }
    return table;
}

inline constexpr std::array<int, kCoefficientCount> kErrorCoefficients = MakeCoefficients();

static_assert(kErrorCoefficients[0] == 27 && kErrorCoefficients[1] == 917,
              "level 0 is x^2 - 12x + 27");
static_assert(kErrorCoefficients[2] == 522 && kErrorCoefficients[5] == 809, "level 1");

} // namespace pdf417
