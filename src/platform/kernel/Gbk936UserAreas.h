// The user-defined areas of code page 936 and the private-use characters
// they stand for: sites keep rare characters of people's and places' names
// there, and the platform's code page maps each area, row by row and trail
// by trail, onto U+E000 onward. iconv's GBK leaves them undefined; the
// conversions (CodePageIconv.cpp) take them from this table instead.
#pragma once

#include <cstdint>

namespace platform::gbk936 {

struct UserArea {
    uint8_t leadFirst, leadLast;   // the rows
    uint8_t trailFirst, trailLast; // the cells of a row; 0x7F is never one
    char16_t first;                // the character of the first cell of the first row
};

// GB 18030-2005: its two-byte user-defined areas 1 to 3, mapped as code page 936 maps them.
constexpr UserArea kUserAreas[] = {
    {0xAA, 0xAF, 0xA1, 0xFE, u'\uE000'}, // 6 rows of 94: U+E000..U+E233
    {0xF8, 0xFE, 0xA1, 0xFE, u'\uE234'}, // 7 rows of 94: U+E234..U+E4C5
    {0xA1, 0xA7, 0x40, 0xA0, u'\uE4C6'}, // 7 rows of 96 (0x7F skipped): U+E4C6..U+E765
};
static_assert(sizeof kUserAreas / sizeof kUserAreas[0] == 3);

// The cells of one row of an area.
constexpr int CellsPerRow(const UserArea &area) {
    const int span = area.trailLast - area.trailFirst + 1;
    return area.trailFirst <= 0x7F && area.trailLast >= 0x7F ? span - 1 : span;
}

// The character of a lead and trail byte, or 0 when they are in no area.
constexpr char16_t ToPrivateUse(uint8_t lead, uint8_t trail) {
    for (const UserArea &area : kUserAreas) {
        if (lead < area.leadFirst || lead > area.leadLast || trail < area.trailFirst ||
            trail > area.trailLast || trail == 0x7F)
            continue;
        const int cell = trail - area.trailFirst - (trail > 0x7F && area.trailFirst < 0x7F);
        return static_cast<char16_t>(area.first + (lead - area.leadFirst) * CellsPerRow(area) +
                                     cell);
    }
    return 0;
}

// The two bytes of a private-use character of the areas; false for any other.
constexpr bool FromPrivateUse(char16_t c, uint8_t &lead, uint8_t &trail) {
    for (const UserArea &area : kUserAreas) {
        const int cells = CellsPerRow(area);
        const int rows = area.leadLast - area.leadFirst + 1;
        if (c < area.first || c >= area.first + rows * cells)
            continue;
        const int offset = c - area.first;
        lead = static_cast<uint8_t>(area.leadFirst + offset / cells);
        int at = area.trailFirst + offset % cells;
        if (area.trailFirst < 0x7F && at >= 0x7F)
            ++at; // the cells after 0x7F
        trail = static_cast<uint8_t>(at);
        return true;
    }
    return false;
}

static_assert(ToPrivateUse(0xAA, 0xA1) == u'\uE000' && ToPrivateUse(0xAF, 0xFE) == u'\uE233');
static_assert(ToPrivateUse(0xF8, 0xA1) == u'\uE234' && ToPrivateUse(0xFE, 0xFE) == u'\uE4C5');
static_assert(ToPrivateUse(0xA1, 0x40) == u'\uE4C6' && ToPrivateUse(0xA1, 0x80) == u'\uE505' &&
              ToPrivateUse(0xA7, 0xA0) == u'\uE765');
static_assert(ToPrivateUse(0xA1, 0x7F) == 0 && ToPrivateUse(0xA1, 0xA1) == 0);

} // namespace platform::gbk936
