// BarcodeBitmap: draws a one-dimensional symbol with plain GDI calls into a
// bitmap of its own, one pixel per unit, with a human-readable caption.
// Ean13Bitmap and Code128Bitmap derive from it.
#pragma once

#include "support/GdiFont.h"
#include "platform/win32.h"

class BarcodeBitmap {
public:
    BarcodeBitmap();
    BarcodeBitmap(const BarcodeBitmap &) = delete;
    BarcodeBitmap &operator=(const BarcodeBitmap &) = delete;
    virtual ~BarcodeBitmap();

    // Draws the symbol for text into a fresh bitmap and returns it (owned by
    // the renderer, valid until the next rendering); null on refusal.
    virtual HBITMAP Render(const char *text);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    int CaptionHeight() const { return m_nCaptionHeight; }
    // Pixels per module across.
    int ModuleWidth() const { return m_nModuleWidth; }

protected:
    // Replaces the bitmap with a new one of the screen's format; makes the
    // pen on the first rendering, or anew for another module width.
    HBITMAP PrepareBitmap(HDC screen, int moduleWidth, int width, int height);
    // The common frame: contexts, bitmap, white fill, then draw(), then cleanup.
    template <class Draw> HBITMAP RenderWith(Draw draw);
    // A bar of `modules` one-pixel lines (or pen-wide lines) at x.
    void VerticalLine(HDC dc, int x, int top, int bottom);
    void SetCaptionFont(const char *face, int points);

    HBITMAP m_hBitmap = nullptr;
    HPEN m_hPen = nullptr;
    GdiFont m_captionFont;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nCaptionHeight = 0;
    int m_nModuleWidth = 1;
};

template <class Draw> HBITMAP BarcodeBitmap::RenderWith(Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = PrepareBitmap(screen, m_nModuleWidth, m_nWidth, m_nHeight);
    if (bitmap) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        HGDIOBJ oldPen = SelectObject(dc, m_hPen);
        HGDIOBJ oldFont = SelectObject(dc, m_captionFont.Handle());
        RECT all{0, 0, m_nWidth, m_nHeight};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        draw(dc);
        SelectObject(dc, oldFont);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}
