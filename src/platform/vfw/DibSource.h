// DibSource: a view of the source rectangle of a 32-bit device-independent
// bitmap, rows top first, 4 bytes per pixel (blue, green, red, unused).
#pragma once

#include <cstddef>

namespace platform::vfw {

struct DibSource {
    const unsigned char *bits;
    int width; // of the whole bitmap
    int height;
    bool bottomUp;
    int x, y, w, h; // the rectangle, top-left origin

    const unsigned char *Row(int row) const {
        const int y0 = y + row;
        const int stored = bottomUp ? height - 1 - y0 : y0;
        return bits + static_cast<size_t>(stored) * static_cast<size_t>(width) * 4 +
               static_cast<size_t>(x) * 4;
    }
    // The same bitmap's columns [left, right) and rows [top, bottom) of
    // this rectangle.
    DibSource Part(int left, int top, int right, int bottom) const {
        DibSource part = *this;
        part.x = x + left;
        part.y = y + top;
        part.w = right - left;
        part.h = bottom - top;
        return part;
    }
};

} // namespace platform::vfw
