// GDI objects and device contexts: creation, selection, deletion and the
// device's capabilities.
#include "GdiObjects.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "../kernel/winbase.h"
#include "../user/winuser.h"
#include "../print/PrinterState.h"

namespace platform::gdi {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<Object *> live;
};

Registry &Objects() {
    static auto *registry = new Registry;
    return *registry;
}

// The virtual screen: 96 dots per inch, 32 bits per pixel.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

template <class T> T *MakeStock(T *object) {
    object->stock = true;
    Register(object);
    return object;
}

} // namespace

HGDIOBJ Register(Object *object) {
    Registry &registry = Objects();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.live.insert(object);
    return object;
}

std::atomic<unsigned long> g_removals{0};
constinit thread_local LastFound t_lastFound;

Object *LookupLive(HGDIOBJ handle) {
    if (!handle)
        return nullptr;
    Registry &registry = Objects();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto *object = static_cast<Object *>(handle);
    if (!registry.live.count(object))
        return nullptr;
    t_lastFound = {handle, g_removals.load(std::memory_order_relaxed)};
    return object;
}

void Unregister(Object *object) {
    Registry &registry = Objects();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.live.erase(object);
    g_removals.fetch_add(1, std::memory_order_release);
}

Pen *StockPen(int index) {
    static Pen *black = [] {
        auto *pen = new Pen;
        pen->logical = {PS_SOLID, {1, 0}, RGB(0, 0, 0)};
        return MakeStock(pen);
    }();
    static Pen *white = [] {
        auto *pen = new Pen;
        pen->logical = {PS_SOLID, {1, 0}, RGB(255, 255, 255)};
        return MakeStock(pen);
    }();
    static Pen *none = [] {
        auto *pen = new Pen;
        pen->logical = {PS_NULL, {1, 0}, 0};
        return MakeStock(pen);
    }();
    return index == WHITE_PEN ? white : index == NULL_PEN ? none : black;
}

Brush *StockBrush(int index) {
    static Brush *brushes[6] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        const COLORREF colors[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                    RGB(64, 64, 64), RGB(0, 0, 0)};
        for (int i = 0; i < 6; ++i) {
            auto *brush = new Brush;
            brush->hollow = i == NULL_BRUSH;
            brush->color = i < 5 ? colors[i] : 0;
            brushes[i] = MakeStock(brush);
        }
    });
    return index >= 0 && index < 6 ? brushes[index] : nullptr;
}

Font *StockFont() {
    static Font *font = [] {
        auto *f = new Font;
        f->logical.lfHeight = 16;
        f->logical.lfWeight = FW_BOLD;
        f->logical.lfCharSet = DEFAULT_CHARSET;
        strcpy(f->logical.lfFaceName, "System");
        return MakeStock(f);
    }();
    return font;
}

Bitmap *StockBitmap() {
    static Bitmap *bitmap = MakeStock(new Bitmap(1, 1));
    return bitmap;
}

DeviceContext::DeviceContext(Kind kind) : Object(OBJ_DC), kind(kind) {
    pen = StockPen(BLACK_PEN);
    brush = StockBrush(WHITE_BRUSH);
    font = StockFont();
    pen->selections++;
    brush->selections++;
    font->selections++;
    if (kind == Memory) {
        bitmap = StockBitmap();
        bitmap->selections++;
    }
    if (kind == Screen || kind == Memory) {
        width = physicalWidth = kind == Screen ? kScreenWidth : 1;
        height = physicalHeight = kind == Screen ? kScreenHeight : 1;
    }
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" HDC WINAPI GetDC(HWND hWnd) {
    if (hWnd && hWnd != GetDesktopWindow())
        return nullptr;
    return static_cast<HDC>(Register(new DeviceContext(DeviceContext::Screen)));
}

extern "C" int WINAPI ReleaseDC(HWND, HDC hDC) {
    DeviceContext *dc = LookupDC(hDC);
    if (!dc || dc->kind != DeviceContext::Screen)
        return 0;
    DeleteDC(hDC);
    return 1;
}

extern "C" HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc && !LookupDC(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto *dc = new DeviceContext(DeviceContext::Memory);
    return static_cast<HDC>(Register(dc));
}

extern "C" BOOL WINAPI DeleteDC(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Unregister(dc);
    delete dc;
    return TRUE;
}

extern "C" HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    DeviceContext *dc = LookupDC(hdc);
    Object *object = Lookup(h);
    if (!dc || !object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Object *previous = nullptr;
    switch (object->type) {
    case OBJ_PEN:
        previous = dc->pen;
        dc->pen = static_cast<Pen *>(object);
        break;
    case OBJ_BRUSH:
        previous = dc->brush;
        dc->brush = static_cast<Brush *>(object);
        break;
    case OBJ_FONT:
        previous = dc->font;
        dc->font = static_cast<Font *>(object);
        break;
    case OBJ_BITMAP: {
        auto *bitmap = static_cast<Bitmap *>(object);
        // A bitmap goes into one memory context at a time.
        if (dc->kind != DeviceContext::Memory || (bitmap->selections > 0 && bitmap != dc->bitmap))
            return nullptr;
        previous = dc->bitmap;
        dc->bitmap = bitmap;
        dc->width = dc->physicalWidth = bitmap->width;
        dc->height = dc->physicalHeight = bitmap->height;
        EnsureSurface(dc);
        break;
    }
    default:
        return nullptr;
    }
    previous->selections--;
    object->selections++;
    return previous;
}

extern "C" BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    Object *object = Lookup(ho);
    if (!object || object->type == OBJ_DC)
        return FALSE;
    if (object->stock)
        return TRUE;
    if (object->selections > 0)
        return FALSE; // selected into a context: still in use
    Unregister(object);
    delete object;
    return TRUE;
}

extern "C" DWORD WINAPI GetObjectType(HGDIOBJ h) {
    Object *object = Lookup(h);
    if (!object)
        return 0;
    if (object->type == OBJ_DC &&
        static_cast<DeviceContext *>(object)->kind == DeviceContext::Memory)
        return OBJ_MEMDC;
    return object->type;
}

extern "C" int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
    Object *object = Lookup(h);
    if (!object)
        return 0;
    switch (object->type) {
    case OBJ_BITMAP: {
        if (!pv)
            return sizeof(BITMAP);
        if (c < static_cast<int>(sizeof(BITMAP)))
            return 0;
        auto *bitmap = static_cast<Bitmap *>(object);
        BITMAP info{0, bitmap->width, bitmap->height, bitmap->width * 4, 1, 32, nullptr};
        memcpy(pv, &info, sizeof info);
        return sizeof(BITMAP);
    }
    case OBJ_PEN:
        if (!pv)
            return sizeof(LOGPEN);
        if (c < static_cast<int>(sizeof(LOGPEN)))
            return 0;
        memcpy(pv, &static_cast<Pen *>(object)->logical, sizeof(LOGPEN));
        return sizeof(LOGPEN);
    case OBJ_FONT: {
        if (!pv)
            return sizeof(LOGFONTA);
        int n = c < static_cast<int>(sizeof(LOGFONTA)) ? c : static_cast<int>(sizeof(LOGFONTA));
        memcpy(pv, &static_cast<Font *>(object)->logical, static_cast<size_t>(n));
        return n;
    }
    default:
        return 0;
    }
}

extern "C" HGDIOBJ WINAPI GetStockObject(int i) {
    switch (i) {
    case WHITE_PEN:
    case BLACK_PEN:
    case NULL_PEN:
        return StockPen(i);
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
        return StockFont();
    default:
        return i >= WHITE_BRUSH && i <= NULL_BRUSH ? StockBrush(i) : nullptr;
    }
}

extern "C" HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color) {
    auto *pen = new Pen;
    pen->logical = {static_cast<UINT>(iStyle), {cWidth, 0}, color & 0xFFFFFF};
    return static_cast<HPEN>(Register(pen));
}

extern "C" HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    auto *brush = new Brush;
    brush->color = color & 0xFFFFFF;
    return static_cast<HBRUSH>(Register(brush));
}

extern "C" HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf) {
    if (!lplf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto *font = new Font;
    font->logical = *lplf;
    font->logical.lfFaceName[LF_FACESIZE - 1] = 0;
    return static_cast<HFONT>(Register(font));
}

extern "C" BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc)
        return FALSE;
    if (lppt)
        *lppt = dc->position;
    dc->position = {x, y};
    return TRUE;
}

extern "C" COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc)
        return 0xFFFFFFFF; // CLR_INVALID
    COLORREF previous = dc->textColor;
    dc->textColor = color & 0xFFFFFF;
    return previous;
}

extern "C" COLORREF WINAPI GetTextColor(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    return dc ? dc->textColor : 0xFFFFFFFF;
}

extern "C" COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc)
        return 0xFFFFFFFF;
    COLORREF previous = dc->backgroundColor;
    dc->backgroundColor = color & 0xFFFFFF;
    return previous;
}

extern "C" int WINAPI SetBkMode(HDC hdc, int mode) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int previous = dc->backgroundMode;
    dc->backgroundMode = mode;
    return previous;
}

extern "C" int WINAPI GetBkMode(HDC hdc) {
    DeviceContext *dc = LookupDC(hdc);
    return dc ? dc->backgroundMode : 0;
}

extern "C" int WINAPI GetDeviceCaps(HDC hdc, int index) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc)
        return 0;
    switch (index) {
    case LOGPIXELSX:
        return dc->dpiX;
    case LOGPIXELSY:
        return dc->dpiY;
    case HORZRES:
        return dc->width;
    case VERTRES:
        return dc->height;
    case PHYSICALWIDTH:
        return dc->kind == DeviceContext::Printer ? dc->physicalWidth : 0;
    case PHYSICALHEIGHT:
        return dc->kind == DeviceContext::Printer ? dc->physicalHeight : 0;
    case PHYSICALOFFSETX:
        return dc->kind == DeviceContext::Printer ? dc->offsetX : 0;
    case PHYSICALOFFSETY:
        return dc->kind == DeviceContext::Printer ? dc->offsetY : 0;
    case HORZSIZE:
        return MulDiv(dc->width, 254, dc->dpiX * 10);
    case VERTSIZE:
        return MulDiv(dc->height, 254, dc->dpiY * 10);
    case BITSPIXEL:
        return dc->kind == DeviceContext::Printer ? 24 : 32;
    case PLANES:
        return 1;
    case TECHNOLOGY:
        // The PDF printer's files (and a printer of unknown resolution)
        // are vector output: a plotter's, as the platform names it.
        return dc->kind != DeviceContext::Printer ? DT_RASDISPLAY
               : dc->dots                         ? DT_RASPRINTER
                                                  : DT_PLOTTER;
    default:
        return 0;
    }
}

extern "C" int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator) {
    if (nDenominator == 0)
        return -1;
    // Rounded half away from zero, computed in 64 bits, as the platform does.
    long long product = static_cast<long long>(nNumber) * nNumerator;
    long long half = (nDenominator > 0 ? nDenominator : -static_cast<long long>(nDenominator)) / 2;
    long long result =
        ((product < 0) == (nDenominator < 0) ? product + half : product - half) / nDenominator;
    if (result > 2147483647LL || result < -2147483648LL)
        return -1;
    return static_cast<int>(result);
}

extern "C" BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom) {
    if (!lprc)
        return FALSE;
    *lprc = RECT{xLeft, yTop, xRight, yBottom};
    return TRUE;
}
