// Printing: the paper, the print job, text, fonts and lines.
#include "QuillDoc.h"

namespace {

// Device units per millimetre for each dot per inch (1 / 25.4).
constexpr double kMillimetresPerInch = 0.03937007874015748;

// The print job's document name, in the ANSI code page.
const AnsiStr &DocumentName() {
    static const AnsiStr name = AnsiStr::FromUtf8("VelmoraIE打印控件");
    return name;
}

const AnsiStr &DefaultFace() {
    static const AnsiStr face = AnsiStr::FromUtf8("宋体");
    return face;
}

} // namespace

HRESULT STDMETHODCALLTYPE QuillDoc::SetPaperSize(int width, int height) {
    m_printer.QueryDefault();
    DEVMODEA *devMode = m_printer.LockDevMode();
    if (!devMode)
        return S_FALSE;
    devMode->dmPaperSize = 0;
    devMode->dmPaperLength = static_cast<SHORT>(height);
    devMode->dmPaperWidth = static_cast<SHORT>(width);
    m_dScale = devMode->dmPrintQuality * kMillimetresPerInch;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::SetPaperSize1(double width, double height) {
    m_printer.QueryDefault();
    DEVMODEA *devMode = m_printer.LockDevMode();
    if (!devMode)
        return S_FALSE;
    devMode->dmFields |= DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH;
    devMode->dmPaperSize = 0;
    devMode->dmPaperLength = static_cast<SHORT>(static_cast<int>(height * 10));
    devMode->dmPaperWidth = static_cast<SHORT>(static_cast<int>(width * 10));
    m_dScale = devMode->dmPrintQuality * kMillimetresPerInch;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::SetPrinter(BSTR szFlag, int *nRet) {
    AnsiStr flag;
    flag.FromWide(szFlag);
    const bool open = flag.Equals("1") || flag.Equals("2") || flag.Equals("3");
    if (open) {
        if (flag.Equals("2")) {
            if (DEVMODEA *devMode = m_printer.LockDevMode()) {
                devMode->dmFields |= DM_ORIENTATION;
                devMode->dmOrientation = DMORIENT_LANDSCAPE;
            }
        } else if (flag.Equals("3")) {
            if (!m_printer.ShowSetupDialog(GetDesktopWindow())) {
                if (nRet)
                    *nRet = 0;
                return S_FALSE;
            }
        }
        if (!m_hDC) {
            m_hDC = m_printer.MakeJobDC();
            if (!m_hDC)
                return S_FALSE;
        }
        DOCINFOA info{};
        info.cbSize = 20;
        info.lpszDocName = DocumentName().c_str();
        SetBkMode(m_hDC, TRANSPARENT);
        StartDocA(m_hDC, &info);
        if (m_printer.DC())
            StartPage(m_printer.DC());
        if (nRet)
            *nRet = 1;
        return S_OK;
    }
    if (flag.Equals("0")) {
        SelectObject(m_hDC, m_hOldFont);
        if (m_printer.DC()) {
            EndPage(m_printer.DC());
            m_printer.EndDocument();
        }
        DeleteDC(m_hDC);
        m_hDC = nullptr;
        m_printer.ForgetDC();
        m_hOldFont = nullptr;
    }
    if (nRet)
        *nRet = 1;
    return S_OK;
}

void QuillDoc::BuildJobFont() {
    m_font.Create(m_strFontName.c_str(), -MulDiv(m_nFontSize, GetDeviceCaps(m_hDC, LOGPIXELSY), 72),
                  m_nFontStyle, 0);
    HGDIOBJ displaced = SelectObject(m_hDC, m_font.Handle());
    if (!m_hOldFont)
        m_hOldFont = displaced;
}

HRESULT STDMETHODCALLTYPE QuillDoc::PrintText(int x, int y, BSTR szText, int nOffX, int nOffy,
                                              int nFontSize) {
    AnsiStr text;
    text.FromWide(szText);
    if (text.IsEmpty())
        return S_OK;
    if (!m_hDC)
        return S_FALSE;
    if (nFontSize != m_nFontSize) {
        m_nFontSize = nFontSize;
        if (m_strFontName.IsEmpty())
            m_strFontName.Assign(DefaultFace());
        BuildJobFont();
    }
    HGDIOBJ displaced = SelectObject(m_hDC, m_font.Handle());
    if (!m_hOldFont)
        m_hOldFont = displaced;
    m_printer.PutText(text.c_str(), ToDevice(x, nOffX), ToDevice(y, nOffy));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::SetFont(BSTR szFontName, int nFlag, int *bRet) {
    AnsiStr name;
    name.FromWide(szFontName);
    if (!name.IsEmpty())
        m_strFontName.Assign(name);
    const auto flag = static_cast<DWORD>(nFlag);
    const bool colourMode = flag >= 0xFF000000u;
    if (!colourMode)
        m_nFontStyle = static_cast<int>(flag & 7);
    if (!m_hDC) {
        if (bRet)
            *bRet = 0;
        return S_FALSE;
    }
    if (!name.IsEmpty()) {
        if (m_nFontSize == 0)
            m_nFontSize = 9;
        BuildJobFont();
    }
    if (colourMode)
        SetTextColor(m_hDC, flag & 0xFFFFFF);
    if (bRet)
        *bRet = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::DrawLine(int xStart, int yStart, int xEnd, int yEnd, int nOffX,
                                             int nOffy, int width, int nColor) {
    const auto colour = static_cast<COLORREF>(nColor);
    if (!m_hPen || width != m_nPenWidth || colour != m_nPenColor) {
        if (m_hPen)
            DeleteObject(m_hPen);
        m_hPen = CreatePen(PS_SOLID, width, colour);
        m_nPenWidth = width;
        m_nPenColor = colour;
    }
    HGDIOBJ displaced = SelectObject(m_hDC, m_hPen);
    MoveToEx(m_hDC, ToDevice(xStart, nOffX), ToDevice(yStart, nOffy), nullptr);
    LineTo(m_hDC, ToDevice(xEnd, nOffX), ToDevice(yEnd, nOffy));
    SelectObject(m_hDC, displaced);
    return S_OK;
}
