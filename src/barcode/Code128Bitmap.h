// Code128Bitmap: Code 128 symbols in code set C, 100 pixels high, two pixels
// per module, with the text as caption.
#pragma once

#include "BarcodeBitmap.h"

class Code128Bitmap : public BarcodeBitmap {
public:
    Code128Bitmap();
    // Draws a text of digits as digit pairs in code set C. A text with any
    // other character is refused (null): pairs such as "AB" have no set C
    // value and would scan as something else. An odd last digit goes out in
    // code set B after the Code B switch, so the symbol reads exactly the text.
    HBITMAP Render(const char *text) override;
};
