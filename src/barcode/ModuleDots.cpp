#include "ModuleDots.h"

#include <cmath>

namespace {
// The most a symbol may grow beyond the width asked for it.
constexpr double kMostGrowth = 1.1;
} // namespace

int DotsPerModule(double askedDots, int modules) {
    if (modules <= 0 || !(askedDots > 0))
        return 1;
    int dots = static_cast<int>(std::lround(askedDots / modules));
    if (dots * static_cast<double>(modules) > kMostGrowth * askedDots)
        --dots;
    return dots < 1 ? 1 : dots;
}

int DotsPerRow(double askedDots, int rows) {
    if (rows <= 0 || !(askedDots > 0))
        return 1;
    const int dots = static_cast<int>(std::lround(askedDots / rows));
    return dots < 1 ? 1 : dots;
}
