// GdiFont: a LOGFONTA and the font handle made from it, used for the job's
// text and the barcode captions. It lives with the support library so that
// both the object and the barcode renderers reach it from above.
#pragma once

#include "platform/win32.h"

class GdiFont {
public:
    // Style bits: 1 bold, 2 italic, 4 underline.
    static constexpr int kBold = 1;
    static constexpr int kItalic = 2;
    static constexpr int kUnderline = 4;

    GdiFont() = default;
    GdiFont(const GdiFont &) = delete;
    GdiFont &operator=(const GdiFont &) = delete;
    ~GdiFont();

    // Builds the font; a positive height is in points at the screen's
    // resolution, a negative one a character height in device units.
    HFONT Create(const char *face, int height, int style, int escapement);
    // The height of the text (or of "A") in this font on the screen; fills
    // size when given. 0 without a font.
    int Measure(const char *text, SIZE *size);

    HFONT Handle() const { return hFont; }
    const LOGFONTA &Logical() const { return lf; }

private:
    HFONT hFont = nullptr;
    LOGFONTA lf{};
};
