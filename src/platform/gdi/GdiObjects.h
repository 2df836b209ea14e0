// The objects behind GDI handles. A handle is the object's address, checked
// against the set of live objects before any use, so a stale handle is
// refused rather than followed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "../kernel/windef.h"
#include "wingdi.h"

struct _cairo;
struct _cairo_surface;
struct _cairo_font_face;
struct _cairo_scaled_font;

namespace platform::gdi {

class GlyphCache;

struct Object {
    explicit Object(DWORD type) : type(type) {}
    virtual ~Object() = default;
    DWORD type;
    // Device contexts this object is selected into; stock objects are
    // selected by the contexts of every thread.
    std::atomic<int> selections{0};
    bool stock = false; // stock objects are never deleted
};

struct Bitmap : Object {
    Bitmap(int width, int height);
    ~Bitmap() override;
    int width;
    int height;
    // The pixels for reading or writing (first cleared when the bitmap
    // is still blank); null when the surface could not be made.
    unsigned char *Pixels();
    // The pixels made current, for the platform's own writers that keep
    // `plain` and `touched` up to date: cairo's drawing flushed, a blank
    // bitmap cleared, the pending fill written.
    unsigned char *Ready();

    // Writing straight into the pixels (BitmapPixels.cpp).
    // The pixels ready to be written straight: made current the first time
    // after cairo drew, the pending fill written.
    unsigned char *Direct();
    // Sets a rectangle (clipped to the bitmap) to a pixel value (0x00RRGGBB):
    // the pixels cairo would fill for it. A rectangle that holds the value
    // already (the bitmap was filled with it and nothing written there
    // since) is left alone; a fill of the whole bitmap is written at once,
    // others are pending until the pixels are next needed.
    void Fill(const RECT &area, uint32_t pixel);
    // Records a box (not empty) written straight into the pixels.
    void Touch(const RECT &box);
    void WritePending();

    _cairo_surface *surface = nullptr; // 32-bit image, B G R x in memory
    // The surface's memory and row length, kept so that drawing straight
    // into the pixels asks cairo nothing; null when there is no surface.
    unsigned char *data = nullptr;
    int stride = 0;
    // A bitmap made on a reused surface is black but not yet cleared: the
    // first access clears it, unless a fill covers it all first.
    bool blank = false;
    // Pixels were written straight into the surface since cairo last drew
    // on it: cairo is told (mark dirty) before it draws again, and needs
    // no flush before the next direct write.
    bool direct = false;
    // The whole bitmap was last filled with one pixel value, and since then
    // only `touched` (a box) was written: a fill of that value outside it
    // has nothing to do. Anything else that writes forgets it.
    bool plain = false;
    uint32_t plainPixel = 0;
    RECT touched{0, 0, 0, 0};
    // The last rectangle filled, not yet written: a bar drawn as lines side
    // by side (one a module) grows it and is written as one rectangle.
    struct PendingFill {
        RECT box{0, 0, 0, 0};
        uint32_t pixel = 0;
        bool active = false;
    } pending;
};

struct Pen : Object {
    Pen() : Object(OBJ_PEN) {}
    LOGPEN logical{};
};

struct Brush : Object {
    Brush() : Object(OBJ_BRUSH) {}
    COLORREF color = 0;
    bool hollow = false;
};

struct Font : Object {
    Font();
    ~Font() override;
    LOGFONTA logical{};
    _cairo_font_face *face = nullptr; // made on first use
    // The font at its size on untransformed contexts (bitmaps, the screen),
    // kept so that drawing a caption again does not look the size up again.
    _cairo_scaled_font *scaled = nullptr;
    double scaledSize = 0;
    // What text drawn with the scaled font keeps of its glyphs (GlyphCache.h).
    std::unique_ptr<GlyphCache> glyphs;
    // Guards face, scaled and glyphs: a font (the stock font above all) may
    // be selected into contexts of several threads at once.
    std::mutex lock;
};

// What a printer context knows of its printer and of the job being printed.
struct PrinterState;

// Takes the next bytes of a printer's document; false when they could not
// be written, which ends the document's output.
using PdfSink = bool (*)(void *closure, const unsigned char *data, unsigned int length);

struct DeviceContext : Object {
    enum Kind { Screen, Memory, Printer };
    explicit DeviceContext(Kind kind);
    ~DeviceContext() override;

    Kind kind;
    int dpiX = 96;
    int dpiY = 96;
    int width = 0; // the drawable area in device units
    int height = 0;
    int physicalWidth = 0;
    int physicalHeight = 0;
    int offsetX = 0; // where the drawable area starts on the page
    int offsetY = 0;
    // A printer context whose device units are the printer's own dots (a
    // raster printer of known resolution); false for vector output.
    bool dots = false;

    Bitmap *bitmap = nullptr;
    Pen *pen = nullptr;
    Brush *brush = nullptr;
    Font *font = nullptr;
    COLORREF textColor = 0;
    COLORREF backgroundColor = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
    POINT position{0, 0};

    _cairo *cr = nullptr;          // where drawing goes, when there is somewhere
    _cairo_surface *pdf = nullptr; // a printer's document while a job is open
    PdfSink pdfSink = nullptr;     // where the document's bytes go, and its closure
    void *pdfClosure = nullptr;
    std::unique_ptr<PrinterState> printer;
};

inline bool IsEmpty(const RECT &r) {
    return r.left >= r.right || r.top >= r.bottom;
}
inline RECT Intersection(const RECT &a, const RECT &b) {
    return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
            a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}

HGDIOBJ Register(Object *object);
// The live object behind a handle, or null, from the set of live objects.
Object *LookupLive(HGDIOBJ handle);
void Unregister(Object *object);

// Counts unregistrations: a thread's last answer stays good while the count
// has not moved (GdiObjects.cpp).
extern std::atomic<unsigned long> g_removals;
// The last handle this thread found live, and the count it was found at.
struct LastFound {
    HGDIOBJ handle = nullptr;
    unsigned long removals = 0;
};
extern constinit thread_local LastFound t_lastFound;

// The live object behind a handle, or null. Drawing asks for the same
// context again and again: the last handle this thread found live is
// still live if no object went since, which is answered here without a call.
inline Object *Lookup(HGDIOBJ handle) {
    const LastFound &last = t_lastFound;
    if (handle && handle == last.handle &&
        g_removals.load(std::memory_order_acquire) == last.removals)
        return static_cast<Object *>(handle);
    return LookupLive(handle);
}
template <class T> T *LookupAs(HGDIOBJ handle, DWORD type) {
    Object *object = Lookup(handle);
    return object && object->type == type ? static_cast<T *>(object) : nullptr;
}
inline DeviceContext *LookupDC(HDC hdc) {
    return LookupAs<DeviceContext>(hdc, OBJ_DC);
}

Pen *StockPen(int index);
Brush *StockBrush(int index);
Font *StockFont();
Bitmap *StockBitmap();

// Fonts matched through fontconfig with the project's aliases
// (FontsFontconfig.cpp): the resolved pattern for a logical font, owned by
// the caller (an FcPattern).
void *MatchFont(const LOGFONTA &logical);
void ReleaseMatch(void *pattern);

// Drawing on cairo (GdiCairo.cpp).
void EnsureSurface(DeviceContext *dc);
// A printer's document is written through a sink, so its printer decides
// where the bytes go and learns of every failed write.
bool OpenPdf(DeviceContext *dc, PdfSink sink, void *closure, const std::string &title);
void BeginPdfPage(DeviceContext *dc);
void ShowPdfPage(DeviceContext *dc);
// Ends the document: false when it could not be written whole (a write of
// the sink failed, or cairo could not make it).
bool ClosePdf(DeviceContext *dc);
// The screen's scratch context, for measuring text.
_cairo *ScratchContext();
// While on, text is measured and drawn through cairo itself rather than from
// the fonts' glyph caches: the tests compare the two.
void DrawTextThroughCairo(bool on);

} // namespace platform::gdi
