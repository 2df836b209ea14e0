// A memory bitmap's pixels written straight, without cairo: fills of
// rectangles (the lines of a bar, a text's cell, a whole bitmap), with what
// the bitmap knows of its pixels kept up to date.
#include <algorithm>
#include <cstring>

#include "GdiObjects.h"

namespace platform::gdi {
namespace {

// Stores one pixel value in count pixels of each of rows rows from row on.
// Each width has its own loop: a bar a few pixels wide is then a store or
// two a row, and a wide row of black or white (one byte repeated, the
// unused fourth byte taking it too) one memset.
void StoreRows(unsigned char *row, size_t stride, int rows, size_t count, uint32_t pixel) {
    // Four rows a turn: a bar's rows are single stores, so the loop's own
    // steps would otherwise cost as much as the stores.
    auto each = [&](auto store) {
        int y = 0;
        for (; y + 4 <= rows; y += 4, row += 4 * stride) {
            store(row);
            store(row + stride);
            store(row + 2 * stride);
            store(row + 3 * stride);
        }
        for (; y < rows; ++y, row += stride)
            store(row);
    };
    const uint64_t pair = (static_cast<uint64_t>(pixel) << 32) | pixel;
    const uint64_t four[2] = {pair, pair};
    if ((pixel == 0 || pixel == 0xFFFFFF) && count > 16) {
        const int byte = pixel ? 0xFF : 0;
        if (count * 4 == stride) // whole rows: one block
            memset(row, byte, stride * static_cast<size_t>(rows));
        else
            each([&](unsigned char *r) { memset(r, byte, count * 4); });
    } else if (count == 1) {
        each([&](unsigned char *r) { memcpy(r, &pixel, 4); });
    } else if (count == 2) {
        each([&](unsigned char *r) { memcpy(r, &pair, 8); });
    } else if (count == 3) {
        each([&](unsigned char *r) {
            memcpy(r, &pair, 8);
            memcpy(r + 8, &pixel, 4);
        });
    } else if (count <= 8) {
        // Two blocks of four, the second ending at the row's end.
        each([&](unsigned char *r) {
            memcpy(r, four, 16);
            memcpy(r + (count - 4) * 4, four, 16);
        });
    } else {
        each([&](unsigned char *r) {
            auto *pixels = reinterpret_cast<uint32_t *>(r);
            for (size_t x = 0; x < count; ++x)
                pixels[x] = pixel;
        });
    }
}

} // namespace

void Bitmap::WritePending() {
    if (!pending.active)
        return;
    pending.active = false;
    const RECT &box = pending.box;
    const auto rowBytes = static_cast<size_t>(stride);
    StoreRows(data + static_cast<size_t>(box.top) * rowBytes + static_cast<size_t>(box.left) * 4,
              rowBytes, box.bottom - box.top, static_cast<size_t>(box.right - box.left),
              pending.pixel);
}

unsigned char *Bitmap::Direct() {
    if (!direct || blank) {
        Ready();
        direct = true;
    }
    WritePending();
    return data;
}

void Bitmap::Touch(const RECT &box) {
    if (!plain) {
        return;
    } else if (IsEmpty(touched)) {
        touched = box;
    } else {
        touched.left = std::min(touched.left, box.left);
        touched.top = std::min(touched.top, box.top);
        touched.right = std::max(touched.right, box.right);
        touched.bottom = std::max(touched.bottom, box.bottom);
    }
}

void Bitmap::Fill(const RECT &area, uint32_t pixel) {
    const RECT box = Intersection(area, {0, 0, width, height});
    if (IsEmpty(box) || !data)
        return;
    if (plain && plainPixel == pixel && IsEmpty(Intersection(box, touched)))
        return; // it holds that colour already
    if (box.left == 0 && box.top == 0 && box.right == width && box.bottom == height) {
        blank = false;          // all of it is written: no need to clear it first
        pending.active = false; // nor to write what was pending
        StoreRows(Direct(), static_cast<size_t>(stride), height, static_cast<size_t>(width), pixel);
        plain = true;
        plainPixel = pixel;
        touched = {0, 0, 0, 0};
        return;
    }
    Touch(box);
    // A fill just right of the pending one, on the same rows and in the
    // same colour, grows it; another one is pending in its place.
    if (pending.active && pending.pixel == pixel && pending.box.right == box.left &&
        pending.box.top == box.top && pending.box.bottom == box.bottom) {
        pending.box.right = box.right;
        return;
    }
    Direct();
    pending = {box, pixel, true};
}

} // namespace platform::gdi
