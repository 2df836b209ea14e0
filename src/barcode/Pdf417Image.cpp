#include "barcode/Pdf417Image.h"

#include <new>

namespace {
constexpr DWORD kWhite = 0x00FFFFFF;
constexpr DWORD kBlack = 0x00000000;
} // namespace

const DWORD *Pdf417Image::EncodeText(const char *text) {
    if (!m_encoder) {
        m_encoder.reset(new (std::nothrow) Pdf417Encoder);
        if (!m_encoder)
            return nullptr;
    }
    Pdf417Encoder &encoder = *m_encoder;
    encoder.Reset();
    encoder.SetText(text);
    encoder.Encode();
    if (encoder.Error() != Pdf417Encoder::kNone || !ReservePixels(encoder.BitmapLength())) {
        encoder.FreeBitmap();
        return nullptr;
    }
    const int width = encoder.BitColumns(), rows = encoder.Rows();
    const int bytesPerRow = encoder.BitmapLength() / rows;
    DWORD *out = m_pixels.get();
    // Rows last to first; a set bit (after the inversion) is a space.
    for (int i = rows - 1; i >= 0; --i) {
        const unsigned char *row = encoder.Bitmap() + static_cast<size_t>(i * bytesPerRow);
        for (int x = 0; x < width; ++x)
            *out++ = (row[x >> 3] >> (7 - (x & 7)) & 1) ? kWhite : kBlack;
    }
    m_nWidth = width;
    m_nHeight = rows;
    encoder.FreeBitmap();
    return m_pixels.get();
}

// Grows the pixel array for a bit image of bitmapLength bytes; a smaller
// symbol reuses the array as it is.
bool Pdf417Image::ReservePixels(int bitmapLength) {
    if (bitmapLength <= m_nPixelCapacity && m_pixels)
        return true;
    m_pixels.reset();
    m_nPixelCapacity = 0;
    m_pixels.reset(new (std::nothrow) DWORD[static_cast<size_t>(bitmapLength) * 8]);
    if (!m_pixels)
        return false;
    m_nPixelCapacity = bitmapLength;
    return true;
}
