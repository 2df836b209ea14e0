// Pdf417Image: a PDF417 symbol as 32-bit pixels, one per module across and
// one per row down, bottom row first, as Picture takes them.
#pragma once

#include <memory>

#include "barcode/Pdf417Encoder.h"
#include "platform/win32.h"

class Pdf417Image {
public:
    Pdf417Image() = default;
    Pdf417Image(const Pdf417Image &) = delete;
    Pdf417Image &operator=(const Pdf417Image &) = delete;

    // Encodes text and returns its pixels (owned here, valid until the next
    // call), or null when the text makes no symbol; width and height then
    // keep the last symbol's.
    const DWORD *EncodeText(const char *text);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    // The last encoding's record, for what it chose.
    const Pdf417Encoder *Encoder() const { return m_encoder.get(); }

private:
    bool ReservePixels(int bitmapLength);

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nPixelCapacity = 0; // in bit-image bytes: the array holds 8 pixels each
    std::unique_ptr<DWORD[]> m_pixels;
    std::unique_ptr<Pdf417Encoder> m_encoder;
};
