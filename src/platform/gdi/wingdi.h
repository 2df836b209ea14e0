// The gdi component: device contexts, bitmaps, pens, fonts, text, lines and
// print jobs. Screen and memory contexts draw into images; printer contexts
// draw into PDF pages, one device unit being one printer dot.
#pragma once

#include "../kernel/windef.h"

#define RGB(r, g, b)                                                                               \
    (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>(c))
#define GetGValue(c) (static_cast<BYTE>((c) >> 8))
#define GetBValue(c) (static_cast<BYTE>((c) >> 16))

// ---- Bitmaps ------------------------------------------------------------------

#define BI_RGB 0
#define BI_RLE8 1
#define BI_RLE4 2
#define BI_BITFIELDS 3
#define DIB_RGB_COLORS 0

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14, "the file header is 14 bytes");

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the info header is 40 bytes");
using LPBITMAPINFOHEADER = BITMAPINFOHEADER *;

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
using LPBITMAPINFO = BITMAPINFO *;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// ---- Pens, brushes, fonts -----------------------------------------------------

#define PS_SOLID 0
#define PS_DASH 1
#define PS_DOT 2
#define PS_NULL 5

struct LOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
};

#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

#define LF_FACESIZE 32
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_CHARSET 1
#define GB2312_CHARSET 134
#define PROOF_QUALITY 2
#define VARIABLE_PITCH 2
#define FF_ROMAN 0x10

struct LOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
};
using LPLOGFONTA = LOGFONTA *;

#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_FONT 6
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

// ---- Device contexts ----------------------------------------------------------

#define TRANSPARENT 1
#define OPAQUE 2

#define TECHNOLOGY 2
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define PHYSICALWIDTH 110
#define PHYSICALHEIGHT 111
#define PHYSICALOFFSETX 112
#define PHYSICALOFFSETY 113

// GetDeviceCaps(TECHNOLOGY)
#define DT_PLOTTER 0
#define DT_RASDISPLAY 1
#define DT_RASPRINTER 2

#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_SINGLELINE 0x00000020
#define DT_NOCLIP 0x00000100
#define DT_CALCRECT 0x00000400

#define CCHDEVICENAME 32
#define CCHFORMNAME 32

// DEVMODEA: the members a printer's settings are written and read through.
struct DEVMODEA {
    BYTE dmDeviceName[CCHDEVICENAME];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    SHORT dmOrientation;
    SHORT dmPaperSize;
    SHORT dmPaperLength; // tenths of a millimetre
    SHORT dmPaperWidth;  // tenths of a millimetre
    SHORT dmScale;
    SHORT dmCopies;
    SHORT dmDefaultSource;
    SHORT dmPrintQuality; // dots per inch (positive) or a quality code (negative)
    SHORT dmColor;
    SHORT dmDuplex;
    SHORT dmYResolution;
    SHORT dmTTOption;
    SHORT dmCollate;
    BYTE dmFormName[CCHFORMNAME];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
};
using LPDEVMODEA = DEVMODEA *;

#define DM_ORIENTATION 0x00000001
#define DM_PAPERSIZE 0x00000002
#define DM_PAPERLENGTH 0x00000004
#define DM_PAPERWIDTH 0x00000008
#define DM_PRINTQUALITY 0x00000400
#define DM_YRESOLUTION 0x00002000
#define DMORIENT_PORTRAIT 1
#define DMORIENT_LANDSCAPE 2
#define DMPAPER_LETTER 1
#define DMPAPER_A4 9
#define DMPAPER_A5 11
#define DMPAPER_B5 13
#define DMPAPER_USER 256

struct DOCINFOA {
    int cbSize;
    LPCSTR lpszDocName;
    LPCSTR lpszOutput;
    LPCSTR lpszDatatype;
    DWORD fwType;
};

extern "C" HDC WINAPI GetDC(HWND hWnd);
extern "C" int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
extern "C" HDC WINAPI CreateCompatibleDC(HDC hdc);
extern "C" HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort,
                                const DEVMODEA *pdm);
extern "C" BOOL WINAPI DeleteDC(HDC hdc);
extern "C" HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
extern "C" BOOL WINAPI DeleteObject(HGDIOBJ ho);
extern "C" int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv);
extern "C" DWORD WINAPI GetObjectType(HGDIOBJ h);
extern "C" HGDIOBJ WINAPI GetStockObject(int i);
extern "C" HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
extern "C" int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                                LPBITMAPINFO lpbmi, UINT usage);
extern "C" HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color);
extern "C" HBRUSH WINAPI CreateSolidBrush(COLORREF color);
extern "C" HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf);
extern "C" BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt);
extern "C" BOOL WINAPI LineTo(HDC hdc, int x, int y);
extern "C" BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c);
extern "C" int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
extern "C" BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl);
extern "C" COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
extern "C" COLORREF WINAPI GetTextColor(HDC hdc);
extern "C" COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
extern "C" int WINAPI SetBkMode(HDC hdc, int mode);
extern "C" int WINAPI GetBkMode(HDC hdc);
extern "C" int WINAPI FillRect(HDC hDC, const RECT *lprc, HBRUSH hbr);
extern "C" int WINAPI GetDeviceCaps(HDC hdc, int index);
extern "C" int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator);
extern "C" BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);

extern "C" int WINAPI StartDocA(HDC hdc, const DOCINFOA *lpdi);
extern "C" int WINAPI StartPage(HDC hdc);
extern "C" int WINAPI EndPage(HDC hdc);
extern "C" int WINAPI EndDoc(HDC hdc);
extern "C" int WINAPI AbortDoc(HDC hdc);
