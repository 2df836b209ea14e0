// Ean13Bitmap: EAN-13 symbols, 123 x 40 pixels, one pixel per module.
#pragma once

#include "BarcodeBitmap.h"

class Ean13Bitmap : public BarcodeBitmap {
public:
    Ean13Bitmap();
    // Draws the first 13 characters, which must be digits; characters after
    // them are ignored. The check digit is drawn as given.
    HBITMAP Render(const char *text) override;

private:
    void DrawDigit(HDC dc, int x, const unsigned char (&widths)[4], int bottom);
};
