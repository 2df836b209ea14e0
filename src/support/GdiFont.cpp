#include "support/GdiFont.h"

#include "support/ModuleGlobals.h"

GdiFont::~GdiFont() {
    if (hFont)
        DeleteObject(hFont);
}

HFONT GdiFont::Create(const char *face, int height, int style, int escapement) {
    if (hFont)
        DeleteObject(hFont);
    hFont = nullptr;
    if (height < 0) {
        lf.lfHeight = height;
    } else {
        HDC screen = GetDC(GetDesktopWindow());
        lf.lfHeight = -MulDiv(height, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(GetDesktopWindow(), screen);
    }
    lf.lfWidth = 0;
    lf.lfEscapement = escapement;
    lf.lfOrientation = escapement;
    lf.lfWeight = (style & kBold) ? FW_BOLD : 0;
    lf.lfItalic = static_cast<BYTE>(style & kItalic);
    lf.lfUnderline = static_cast<BYTE>(style & kUnderline);
    lf.lfStrikeOut = 0;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = 0;
    lf.lfClipPrecision = 0;
    lf.lfQuality = PROOF_QUALITY;
    lf.lfPitchAndFamily = VARIABLE_PITCH | FF_ROMAN;
    lstrcpynA(lf.lfFaceName, face ? face : "", LF_FACESIZE); // at most 31 bytes
    hFont = CreateFontIndirectA(&lf);
    return hFont;
}

int GdiFont::Measure(const char *text, SIZE *size) {
    if (!hFont)
        return 0;
    HWND owner = OwnerWindow();
    HDC screen = GetDC(owner);
    HGDIOBJ previous = SelectObject(screen, hFont);
    SIZE extent{0, 0};
    const char *measured = text ? text : "A";
    GetTextExtentPoint32A(screen, measured, lstrlenA(measured), &extent);
    SelectObject(screen, previous);
    ReleaseDC(owner, screen);
    if (size)
        *size = extent;
    return extent.cy;
}
