#include "Canvas.h"

Canvas::Canvas(int width, int height) : m_width(width), m_height(height) {
    m_screen = GetDC(nullptr);
    m_dc = CreateCompatibleDC(m_screen);
    m_bitmap = CreateCompatibleBitmap(m_screen, width, height);
    m_old = SelectObject(m_dc, m_bitmap);
    RECT all{0, 0, width, height};
    FillRect(m_dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

Canvas::~Canvas() {
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
    ReleaseDC(nullptr, m_screen);
}

DWORD Canvas::Pixel(int x, int y) {
    Read();
    return m_pixels[static_cast<size_t>((m_height - 1 - y) * m_width + x)] & 0xFFFFFF;
}

std::vector<DWORD> &Canvas::Read() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = m_width;
    info.bmiHeader.biHeight = m_height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    m_pixels.assign(static_cast<size_t>(m_width * m_height), 0xdeadbeef);
    GetDIBits(m_screen, m_bitmap, 0, static_cast<UINT>(m_height), m_pixels.data(), &info,
              DIB_RGB_COLORS);
    return m_pixels;
}

void Canvas::Fill(const RECT &box, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(m_dc, &box, brush);
    DeleteObject(brush);
}
