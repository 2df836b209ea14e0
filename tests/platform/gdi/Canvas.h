// Canvas: a memory context with a white bitmap of its own selected, and
// the bitmap's pixels read back, for the drawing tests.
#pragma once

#include <vector>

#include "platform/win32.h"

class Canvas {
public:
    Canvas(int width, int height);
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;
    ~Canvas();

    HDC dc() const { return m_dc; }
    HBITMAP bitmap() const { return m_bitmap; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // The pixel at (x, y), top-left origin, as 0x00RRGGBB.
    DWORD Pixel(int x, int y);
    bool Dark(int x, int y) { return (Pixel(x, y) & 0xFF) < 128; }
    // All pixels as GetDIBits gives them: bottom-up rows of 0x00RRGGBB.
    std::vector<DWORD> &Read();
    // Fills a rectangle with a solid colour.
    void Fill(const RECT &box, COLORREF color);

private:
    int m_width, m_height;
    HDC m_screen, m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
    std::vector<DWORD> m_pixels;
};
