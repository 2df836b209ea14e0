#include "Ean13Bitmap.h"

#include "Ean13Tables.h"

namespace {
constexpr int kWidth = 123, kHeight = 40, kTop = 4;
}

Ean13Bitmap::Ean13Bitmap() {
    m_nWidth = kWidth;
    m_nHeight = kHeight;
    m_nModuleWidth = 1;
}

void Ean13Bitmap::DrawDigit(HDC dc, int x, const unsigned char (&widths)[4], int bottom) {
    for (int pair = 0; pair < 2; ++pair) {
        x += widths[pair * 2];
        for (int m = 0; m < widths[pair * 2 + 1]; ++m)
            VerticalLine(dc, x++, kTop, bottom);
    }
}

HBITMAP Ean13Bitmap::Render(const char *text) {
    if (!text)
        return nullptr;
    for (int i = 0; i < 13; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return nullptr; // also stops at a text shorter than 13
    }
    m_nWidth = kWidth;
    m_nHeight = kHeight;
    const int c = m_nCaptionHeight;
    const int guard = kHeight - c / 2 - 4, data = guard - c / 2, band = kHeight - c - 4;
    return RenderWith([&](HDC dc) {
        auto draw = [&](int x, const ean13::Digit &d, int bottom) {
            const unsigned char widths[4] = {d[0], d[1], d[2], d[3]};
            DrawDigit(dc, x, widths, bottom);
        };
        for (int x : {14, 16})
            VerticalLine(dc, x, kTop, guard);
        const auto &parity = ean13::kParity[static_cast<size_t>(text[0] - '0')];
        for (int k = 0; k < 6; ++k) {
            const int digit = text[1 + k] - '0';
            draw(17 + 7 * k, parity[static_cast<size_t>(k)] ? ean13::kSetB[static_cast<size_t>(digit)]
                                                            : ean13::kSetA[static_cast<size_t>(digit)],
                 data);
        }
        for (int x : {60, 62})
            VerticalLine(dc, x, kTop, guard);
        for (int k = 0; k < 6; ++k)
            draw(64 + 7 * k, ean13::kSetC[static_cast<size_t>(text[7 + k] - '0')], data);
        for (int x : {106, 108})
            VerticalLine(dc, x, kTop, guard);
        // The caption: the first digit alone, then each half under its bars.
        RECT first{5, band, 14, band + c}, left{17, band, 59, band + c}, right{64, band, 106, band + c};
        DrawTextA(dc, text, 1, &first, DT_CENTER);
        DrawTextA(dc, text + 1, 6, &left, DT_CENTER);
        DrawTextA(dc, text + 7, 6, &right, DT_CENTER);
    });
}
