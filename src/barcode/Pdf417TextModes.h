// PDF417 text compaction sub-modes of ISO/IEC 15438 (Alpha, Lower, Mixed,
// Punctuation): which sub-modes hold a byte, and its value there.
#pragma once

#include <array>

namespace pdf417 {

enum SubMode : unsigned char { kAlpha = 1, kLower = 2, kMixed = 4, kPunctuation = 8 };

// Control values inside text compaction.
inline constexpr int kLatchLower = 27;     // from Alpha and Mixed
inline constexpr int kShiftAlpha = 27;     // from Lower
inline constexpr int kLatchMixed = 28;     // from Alpha and Lower
inline constexpr int kLatchAlpha = 28;     // from Mixed
inline constexpr int kLatchPunctuation = 25; // from Mixed
inline constexpr int kShiftPunctuation = 29; // from Alpha, Lower, Mixed
inline constexpr int kPunctuationToAlpha = 29;
inline constexpr int kSpaceValue = 26;

// The Mixed and Punctuation characters, each at its value.
inline constexpr char kMixedChars[] = "0123456789&\r\t,:#-.$/+%*=^";
inline constexpr char kPunctuationChars[] = ";<>@[\\]_`~!\r\t,:\n-.$/\"|*()?{}'";

struct TextChar {
    unsigned char modes = 0; // SubMode bits; 0 for a byte sent with a byte shift
    unsigned char value = 0; // the same in every sub-mode that holds it
};

constexpr std::array<TextChar, 256> MakeTextChars() {
    std::array<TextChar, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = {kAlpha, static_cast<unsigned char>(c - 'A')};
    for (int c = 'a'; c <= 'z'; ++c)
        table[c] = {kLower, static_cast<unsigned char>(c - 'a')};
    for (int i = 0; kMixedChars[i]; ++i) {
        TextChar &t = table[static_cast<unsigned char>(kMixedChars[i])];
        t = {static_cast<unsigned char>(t.modes | kMixed), static_cast<unsigned char>(i)};
    }
    for (int i = 0; kPunctuationChars[i]; ++i) {
        TextChar &t = table[static_cast<unsigned char>(kPunctuationChars[i])];
        t = {static_cast<unsigned char>(t.modes | kPunctuation), static_cast<unsigned char>(i)};
    }
    table[' '] = {kAlpha | kLower | kMixed, kSpaceValue};
    return table;
}

inline constexpr std::array<TextChar, 256> kTextChars = MakeTextChars();

static_assert(sizeof(kMixedChars) == 26 && sizeof(kPunctuationChars) == 30, "25 and 29 characters");
static_assert(kTextChars[','].modes == (kMixed | kPunctuation) && kTextChars[','].value == 13,
              "characters in both lists stand at the same value");

} // namespace pdf417
