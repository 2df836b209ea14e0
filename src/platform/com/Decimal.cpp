#include "Decimal.h"

#include <cmath>

namespace platform {
namespace {

using U128 = unsigned __int128;

constexpr U128 kLimit = static_cast<U128>(1) << 96;
constexpr int kMaxScale = 28;

U128 Magnitude(const DECIMAL &value) {
    return (static_cast<U128>(value.Hi32) << 64) | value.Lo64;
}

} // namespace

namespace {

// The digits as a magnitude of at most 96 bits; false when they do not fit.
bool Accumulate(const std::string &digits, U128 &magnitude) {
    magnitude = 0;
    for (char c : digits) {
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude >= kLimit)
            return false;
    }
    return true;
}

} // namespace

bool DecimalFromText(const std::string &text, DECIMAL &out) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';
    std::string digits;
    int scale = -1;
    for (; at < text.size(); ++at) {
        char c = text[at];
        if (c == '.' && scale < 0)
            scale = 0;
        else if (c >= '0' && c <= '9') {
            digits.push_back(c);
            if (scale >= 0)
                ++scale;
        } else
            return false;
    }
    if (digits.empty())
        return false;
    if (scale < 0)
        scale = 0;
    // The scale is kept; trailing zeros of the fraction go only when the
    // number would not fit otherwise.
    U128 magnitude = 0;
    while (scale > kMaxScale || !Accumulate(digits, magnitude)) {
        if (scale == 0 || digits.back() != '0')
            return false;
        digits.pop_back();
        --scale;
    }
    out = DECIMAL{};
    out.scale = static_cast<BYTE>(scale);
    out.sign = negative && magnitude != 0 ? DECIMAL_NEG : 0;
    out.Hi32 = static_cast<ULONG>(magnitude >> 64);
    out.Lo64 = static_cast<ULONGLONG>(magnitude);
    return true;
}

std::string DecimalText(const DECIMAL &value) {
    U128 magnitude = Magnitude(value);
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    digits.assign(digits.rbegin(), digits.rend());
    size_t scale = value.scale;
    if (digits.size() <= scale)
        digits = std::string(scale + 1 - digits.size(), '0') + digits;
    std::string text = digits.substr(0, digits.size() - scale);
    std::string fraction = digits.substr(digits.size() - scale);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        text += "." + fraction;
    if ((value.sign & DECIMAL_NEG) && text != "0")
        text = "-" + text;
    return text;
}

double DecimalToDouble(const DECIMAL &value) {
    double number = static_cast<double>(Magnitude(value)) / std::pow(10.0, value.scale);
    return (value.sign & DECIMAL_NEG) ? -number : number;
}

} // namespace platform
