#include "BarcodeBitmap.h"

#include "support/AnsiStr.h"

BarcodeBitmap::BarcodeBitmap() { SetCaptionFont("宋体", 9); }

BarcodeBitmap::~BarcodeBitmap() {
    if (m_hBitmap)
        DeleteObject(m_hBitmap);
    if (m_hPen)
        DeleteObject(m_hPen);
}

void BarcodeBitmap::SetCaptionFont(const char *face, int points) {
    const AnsiStr ansi = AnsiStr::FromUtf8(face);
    m_captionFont.Create(ansi.c_str(), points, 0, 0);
    m_nCaptionHeight = m_captionFont.Measure("8", nullptr);
}

HBITMAP BarcodeBitmap::Render(const char *) { return nullptr; }

HBITMAP BarcodeBitmap::PrepareBitmap(HDC screen, int moduleWidth, int width, int height) {
    const bool first = m_hBitmap == nullptr;
    if (m_hBitmap)
        DeleteObject(m_hBitmap);
    m_hBitmap = CreateCompatibleBitmap(screen, width, height);
    if (first && !m_hPen)
        m_hPen = CreatePen(PS_SOLID, moduleWidth, 0);
    if (m_hPen) {
        LOGPEN pen{};
        GetObjectA(m_hPen, sizeof pen, &pen);
        if (pen.lopnWidth.x != moduleWidth) {
            DeleteObject(m_hPen);
            m_hPen = CreatePen(PS_SOLID, moduleWidth, 0);
        }
    }
    return m_hBitmap;
}

void BarcodeBitmap::VerticalLine(HDC dc, int x, int top, int bottom) {
    MoveToEx(dc, x, top, nullptr);
    LineTo(dc, x, bottom);
}
