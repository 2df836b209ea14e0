// Drawing on cairo: bitmaps, lines, text, fills and PDF pages.
//
// Device units are pixels of a memory context's bitmap, or dots of a
// printer's page (the PDF context is scaled from points to dots and moved
// to the printable area). Lines follow the platform's pixel rules: the end
// point is not painted, and a pen of width w covers w device units around
// the line, starting w/2 before it. Text is real text in the PDF, its fonts
// embedded.
#include <atomic>
#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "../kernel/winnls.h"
#include "../print/PrinterState.h"
#include "GdiObjects.h"
#include "GlyphCache.h"

namespace platform::gdi {
namespace {

void SetColor(cairo_t *cr, COLORREF color) {
    cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                         GetBValue(color) / 255.0);
}

cairo_font_face_t *FaceOf(Font *font) {
    if (!font->face) {
        void *pattern = MatchFont(font->logical);
        if (pattern) {
            font->face = cairo_ft_font_face_create_for_pattern(static_cast<FcPattern *>(pattern));
            ReleaseMatch(pattern);
        }
    }
    return font->face;
}

// The em size in device units for a font on a context.
double EmSize(cairo_t *cr, Font *font, const DeviceContext *dc) {
    LONG height = font->logical.lfHeight;
    if (height < 0)
        return -height;
    if (height == 0)
        return 12.0 * dc->dpiY / 72.0;
    // A positive height is the cell height: ascent plus descent.
    cairo_set_font_size(cr, 1.0);
    cairo_font_extents_t extents;
    cairo_font_extents(cr, &extents);
    double cell = extents.ascent + extents.descent;
    return cell > 0 ? height / cell : height;
}

// A text measured in a font, with its glyphs from the origin, so drawing
// it does not look the characters up again.
struct TextMetrics {
    double ascent = 0;
    double descent = 0;
    double advance = 0;
    std::vector<cairo_glyph_t> glyphs;
};

// Selects the font at its size into cr: on an untransformed context the
// font's kept scaled font, made the first time.
void SelectFont(cairo_t *cr, Font *font, DeviceContext *dc) {
    // cairo takes its own references to what is set, so the lock is needed
    // only while the font's fields are read and replaced.
    std::lock_guard<std::mutex> guard(font->lock);
    cairo_matrix_t ctm;
    cairo_get_matrix(cr, &ctm);
    const bool plain = ctm.xx == 1 && ctm.yy == 1 && ctm.xy == 0 && ctm.yx == 0;
    if (plain && font->scaled && font->scaledSize == dc->dpiY) {
        cairo_set_scaled_font(cr, font->scaled);
        return;
    }
    cairo_set_font_face(cr, FaceOf(font));
    cairo_set_font_size(cr, EmSize(cr, font, dc));
    if (plain) {
        if (font->scaled)
            cairo_scaled_font_destroy(font->scaled);
        font->scaled = cairo_scaled_font_reference(cairo_get_scaled_font(cr));
        font->scaledSize = dc->dpiY;
        font->glyphs.reset();
        if (cairo_scaled_font_status(font->scaled) == CAIRO_STATUS_SUCCESS) {
            cairo_font_extents_t extents{};
            cairo_scaled_font_extents(font->scaled, &extents);
            font->glyphs = std::make_unique<GlyphCache>(extents.ascent, extents.descent);
        }
    }
}

// The font's glyph cache when its kept scaled font is the one a context
// draws with (untransformed, at the screen's resolution); else null. Called
// and used with the font's lock held: another thread's SelectFont may
// replace the cache.
std::atomic<bool> g_textThroughCairo{false};

GlyphCache *CacheFor(Font *font, const DeviceContext *dc) {
    if (dc->kind == DeviceContext::Printer || !font->scaled || font->scaledSize != dc->dpiY ||
        g_textThroughCairo.load(std::memory_order_relaxed))
        return nullptr;
    return font->glyphs.get();
}

// Asks cairo for a character's glyph and advance, and keeps them.
const GlyphChar *LearnChar(cairo_scaled_font_t *scaled, GlyphCache &cache, uint32_t code,
                           std::string_view utf8) {
    cairo_glyph_t *glyphs = nullptr;
    int count = 0;
    const GlyphChar *learnt = nullptr;
    if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         &glyphs, &count, nullptr, nullptr,
                                         nullptr) == CAIRO_STATUS_SUCCESS &&
        count == 1) {
        cairo_text_extents_t extents{};
        cairo_scaled_font_glyph_extents(scaled, glyphs, 1, &extents);
        learnt = cache.AddChar(code, {glyphs[0].index, extents.x_advance, extents.y_advance});
    }
    cairo_glyph_free(glyphs);
    return learnt;
}

// Measures the text from the font's glyph cache: the glyphs placed as
// cairo places them (each character's advance added in turn). False when
// the context does not draw with the cache or the text is not plain UTF-8.
bool MeasureCached(DeviceContext *dc, const std::string &utf8, TextMetrics &m) {
    Font *font = dc->font ? dc->font : StockFont();
    std::lock_guard<std::mutex> guard(font->lock);
    GlyphCache *cache = CacheFor(font, dc);
    if (!cache)
        return false;
    m.ascent = cache->Ascent();
    m.descent = cache->Descent();
    m.glyphs.clear();
    m.glyphs.reserve(utf8.size());
    double x = 0, y = 0;
    for (size_t at = 0; at < utf8.size();) {
        const size_t start = at;
        uint32_t code = 0;
        if (!GlyphCache::NextCodePoint(utf8, at, code))
            return false;
        const GlyphChar *glyph = cache->FindChar(code);
        if (!glyph)
            glyph = LearnChar(font->scaled, *cache, code,
                              std::string_view(utf8).substr(start, at - start));
        if (!glyph)
            return false;
        m.glyphs.push_back({glyph->index, x, y});
        x += glyph->advanceX;
        y += glyph->advanceY;
    }
    m.advance = x;
    return true;
}

// Selects the context's font into cr and measures the text with cairo.
TextMetrics MeasureWithCairo(cairo_t *cr, DeviceContext *dc, const std::string &utf8) {
    Font *font = dc->font ? dc->font : StockFont();
    SelectFont(cr, font, dc);
    TextMetrics m;
    cairo_font_extents_t extents{};
    cairo_font_extents(cr, &extents);
    m.ascent = extents.ascent;
    m.descent = extents.descent;
    cairo_scaled_font_t *scaled = cairo_get_scaled_font(cr);
    cairo_glyph_t *glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, utf8.c_str(), static_cast<int>(utf8.size()),
                                         &glyphs, &count, nullptr, nullptr,
                                         nullptr) == CAIRO_STATUS_SUCCESS) {
        cairo_text_extents_t text{};
        cairo_scaled_font_glyph_extents(scaled, glyphs, count, &text);
        m.advance = text.x_advance;
        m.glyphs.assign(glyphs, glyphs + count);
    }
    cairo_glyph_free(glyphs);
    return m;
}

// Measures the text in the context's font: from the font's glyph cache
// when it serves the context, else with cairo.
TextMetrics Measure(DeviceContext *dc, const std::string &utf8) {
    TextMetrics m;
    if (MeasureCached(dc, utf8, m))
        return m;
    cairo_t *cr = dc->cr ? dc->cr : ScratchContext();
    cairo_save(cr);
    m = MeasureWithCairo(cr, dc, utf8);
    cairo_restore(cr);
    return m;
}

std::string Utf8Of(LPCSTR text, int length) {
    if (!text)
        return {};
    size_t n = length < 0 ? strlen(text) : static_cast<size_t>(length);
    // Every ANSI code page is ASCII below 0x80: such text is UTF-8 already.
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(text[i]) < 0x80;
    return ascii ? std::string(text, n) : ConvertText(CP_ACP, CP_UTF8, text, n);
}

// Sets a rectangle of a memory context's bitmap in its pixels, without
// cairo (Bitmap::Fill).
void FillPixels(DeviceContext *dc, int left, int top, int w, int h, COLORREF color) {
    dc->bitmap->Fill({left, top, left + w, top + h},
                     (static_cast<uint32_t>(GetRValue(color)) << 16) |
                         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color));
}

// Before cairo draws on a memory context's bitmap: tells cairo of the
// pixels written straight into it.
void CairoDraws(DeviceContext *dc) {
    if (dc->kind == DeviceContext::Memory && dc->bitmap)
        dc->bitmap->plain = false;
    if (dc->kind == DeviceContext::Memory && dc->bitmap &&
        (dc->bitmap->blank || dc->bitmap->pending.active))
        dc->bitmap->Ready();
    if (dc->kind == DeviceContext::Memory && dc->bitmap && dc->bitmap->direct) {
        cairo_surface_mark_dirty(dc->bitmap->surface);
        dc->bitmap->direct = false;
    }
}

// Renders a glyph white on black through cairo, at a whole-pixel origin
// with room around its ink, and keeps its coverage.
const GlyphImage *RenderGlyph(cairo_scaled_font_t *scaled, GlyphCache &cache, unsigned long index) {
    cairo_glyph_t glyph{index, 0, 0};
    cairo_text_extents_t ink{};
    cairo_scaled_font_glyph_extents(scaled, &glyph, 1, &ink);
    const int pad = 2 + static_cast<int>(cache.Ascent() + cache.Descent()) / 4;
    const int left = static_cast<int>(std::floor(ink.x_bearing)) - pad;
    const int top = static_cast<int>(std::floor(ink.y_bearing)) - pad;
    const int width = static_cast<int>(std::ceil(ink.x_bearing + ink.width)) + pad - left;
    const int height = static_cast<int>(std::ceil(ink.y_bearing + ink.height)) + pad - top;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_scaled_font(cr, scaled);
    glyph.x = -left;
    glyph.y = -top;
    cairo_show_glyphs(cr, &glyph, 1);
    cairo_surface_flush(surface);
    const GlyphImage *image = nullptr;
    if (cairo_status(cr) == CAIRO_STATUS_SUCCESS)
        image =
            cache.AddImage(index, GlyphCache::FromWhiteOnBlack(
                                      cairo_image_surface_get_data(surface),
                                      static_cast<size_t>(cairo_image_surface_get_stride(surface)),
                                      width, height, -left, -top));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return image;
}

// Glyphs larger than this are left to cairo rather than kept.
constexpr double kLargestCachedCell = 256;

// The text's glyphs with their images from the font's cache, placed in
// whole pixels as cairo rounds them; false when the cache cannot serve.
bool PlaceGlyphs(Font *font, GlyphCache &cache, int x, int y, const TextMetrics &m,
                 std::vector<PlacedGlyph> &placed) {
    placed.reserve(m.glyphs.size());
    for (const cairo_glyph_t &glyph : m.glyphs) {
        const GlyphImage *image = cache.FindImage(glyph.index);
        if (!image)
            image = RenderGlyph(font->scaled, cache, glyph.index);
        if (!image)
            return false;
        placed.push_back({image, static_cast<int>(std::floor(glyph.x + x + 0.5)),
                          static_cast<int>(std::floor(glyph.y + (y + m.ascent) + 0.5))});
    }
    return true;
}

// Draws text on a memory context's bitmap straight into its pixels, with
// the glyphs' coverage as cairo renders it; false when it cannot (another
// kind of context, an underlined font, a font the cache does not serve).
bool DrawTextDirect(DeviceContext *dc, int x, int y, const TextMetrics &m, const RECT *clip) {
    if (dc->kind != DeviceContext::Memory || !dc->bitmap || !dc->bitmap->data)
        return false;
    Font *font = dc->font ? dc->font : StockFont();
    std::lock_guard<std::mutex> guard(font->lock);
    GlyphCache *cache = CacheFor(font, dc);
    if (!cache || font->logical.lfUnderline || m.ascent + m.descent > kLargestCachedCell)
        return false;
    std::vector<PlacedGlyph> placed;
    if (!PlaceGlyphs(font, *cache, x, y, m, placed))
        return false;
    RECT area{0, 0, dc->bitmap->width, dc->bitmap->height};
    if (clip)
        area = Intersection(area, *clip);
    TextPaint paint{dc->textColor, dc->backgroundColor, {0, 0, 0, 0}};
    if (dc->backgroundMode == OPAQUE) {
        // The cell, as cairo would fill it, set directly; the glyphs on it
        // then know what they are drawn over.
        const RECT cell{x, y, x + static_cast<int>(std::lround(m.advance)),
                        y + static_cast<int>(std::lround(m.ascent + m.descent))};
        paint.plain = Intersection(area, cell);
        if (IsEmpty(paint.plain))
            paint.plain = {0, 0, 0, 0};
        FillPixels(dc, paint.plain.left, paint.plain.top, paint.plain.right - paint.plain.left,
                   paint.plain.bottom - paint.plain.top, dc->backgroundColor);
    }
    if (IsEmpty(area))
        return true;
    const PixelTarget target{dc->bitmap->Direct(), static_cast<size_t>(dc->bitmap->stride), area};
    GlyphCache::Draw(target, placed, paint);
    const RECT inked = Intersection(area, GlyphCache::Extent(placed));
    if (!IsEmpty(inked))
        dc->bitmap->Touch(inked);
    return true;
}

// Draws text with its cell's top-left at (x, y); m: the text measured in
// the context's font; clip: where the text may draw, when not everywhere.
void DrawTextAt(DeviceContext *dc, int x, int y, const TextMetrics &m, const RECT *clip) {
    if (DrawTextDirect(dc, x, y, m, clip))
        return;
    cairo_t *cr = dc->cr;
    cairo_save(cr);
    if (clip) {
        cairo_rectangle(cr, clip->left, clip->top, clip->right - clip->left,
                        clip->bottom - clip->top);
        cairo_clip(cr);
    }
    if (dc->backgroundMode == OPAQUE && dc->kind == DeviceContext::Memory && !clip) {
        // The cell's pixels, as cairo would fill them, set directly.
        FillPixels(dc, x, y, static_cast<int>(std::lround(m.advance)),
                   static_cast<int>(std::lround(m.ascent + m.descent)), dc->backgroundColor);
    } else if (dc->backgroundMode == OPAQUE) {
        CairoDraws(dc);
        SetColor(cr, dc->backgroundColor);
        cairo_rectangle(cr, x, y, m.advance, m.ascent + m.descent);
        cairo_fill(cr);
    }
    CairoDraws(dc);
    SetColor(cr, dc->textColor);
    Font *font = dc->font ? dc->font : StockFont();
    SelectFont(cr, font, dc);
    std::vector<cairo_glyph_t> glyphs = m.glyphs;
    for (cairo_glyph_t &glyph : glyphs) {
        glyph.x += x;
        glyph.y += y + m.ascent;
    }
    cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    if (font->logical.lfUnderline) {
        double thickness = std::max(1.0, (m.ascent + m.descent) / 16.0);
        cairo_rectangle(cr, x, y + m.ascent + m.descent / 3.0, m.advance, thickness);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

} // namespace

namespace {

// Surfaces of deleted bitmaps, kept for the next bitmap of the same size:
// a renderer that makes a new bitmap for every drawing (the barcodes) then
// reuses its memory instead of allocating it anew. Small surfaces only.
class SurfacePool {
public:
    cairo_surface_t *Take(int width, int height) {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            if (cairo_image_surface_get_width(*it) == width &&
                cairo_image_surface_get_height(*it) == height) {
                cairo_surface_t *surface = *it;
                m_free.erase(it);
                return surface;
            }
        }
        return nullptr;
    }
    void Give(cairo_surface_t *surface) {
        const long long bytes = static_cast<long long>(cairo_image_surface_get_stride(surface)) *
                                cairo_image_surface_get_height(surface);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
            cairo_surface_get_reference_count(surface) != 1 || bytes > kLargest) {
            cairo_surface_destroy(surface);
            return;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_free.size() == kKept) {
            cairo_surface_destroy(m_free.front());
            m_free.erase(m_free.begin());
        }
        m_free.push_back(surface);
    }

private:
    static constexpr size_t kKept = 4;
    static constexpr long long kLargest = 1 << 20;
    std::mutex m_lock;
    std::vector<cairo_surface_t *> m_free;
};

SurfacePool &Pool() {
    static auto *pool = new SurfacePool;
    return *pool;
}

} // namespace

Bitmap::Bitmap(int w, int h) : Object(OBJ_BITMAP), width(w), height(h) {
    surface = Pool().Take(w, h);
    if (!surface)
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    else
        blank = true; // a new bitmap starts black, as a freshly made one does
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        data = cairo_image_surface_get_data(surface);
        stride = cairo_image_surface_get_stride(surface);
    }
}

unsigned char *Bitmap::Ready() {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_surface_flush(surface);
    if (blank) {
        memset(data, 0, static_cast<size_t>(stride) * static_cast<size_t>(height));
        cairo_surface_mark_dirty(surface);
        blank = false;
    }
    if (pending.active) {
        WritePending();
        direct = true; // cairo is told before it draws again
    }
    return data;
}

unsigned char *Bitmap::Pixels() {
    plain = false; // the caller may write anything
    return Ready();
}

Bitmap::~Bitmap() {
    Pool().Give(surface);
}

Font::Font() : Object(OBJ_FONT) {}

Font::~Font() {
    glyphs.reset();
    if (scaled)
        cairo_scaled_font_destroy(scaled);
    if (face)
        cairo_font_face_destroy(face);
}

DeviceContext::~DeviceContext() {
    if (cr)
        cairo_destroy(cr);
    if (pdf)
        cairo_surface_destroy(pdf);
    for (Object *selected : {static_cast<Object *>(pen), static_cast<Object *>(brush),
                             static_cast<Object *>(font), static_cast<Object *>(bitmap)}) {
        if (selected)
            selected->selections--;
    }
}

void DrawTextThroughCairo(bool on) {
    g_textThroughCairo.store(on);
}

_cairo *ScratchContext() {
    // One per thread: a cairo context must not be used by two threads at
    // once (the bridge calls objects on many); freed when the thread ends.
    struct Scratch {
        cairo_t *cr;
        Scratch() {
            cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
            cr = cairo_create(surface);
            cairo_surface_destroy(surface); // the context holds it
        }
        ~Scratch() { cairo_destroy(cr); }
    };
    thread_local Scratch scratch;
    return scratch.cr;
}

void EnsureSurface(DeviceContext *dc) {
    if (dc->kind != DeviceContext::Memory)
        return;
    if (dc->cr)
        cairo_destroy(dc->cr);
    dc->cr = nullptr;
    if (dc->bitmap && cairo_surface_status(dc->bitmap->surface) == CAIRO_STATUS_SUCCESS) {
        dc->cr = cairo_create(dc->bitmap->surface);
        cairo_set_antialias(dc->cr, CAIRO_ANTIALIAS_NONE);
    }
}

namespace {

cairo_status_t WritePdf(void *closure, const unsigned char *data, unsigned int length) {
    auto *dc = static_cast<DeviceContext *>(closure);
    return dc->pdfSink(dc->pdfClosure, data, length) ? CAIRO_STATUS_SUCCESS
                                                     : CAIRO_STATUS_WRITE_ERROR;
}

} // namespace

bool OpenPdf(DeviceContext *dc, PdfSink sink, void *closure, const std::string &title) {
    double widthPt = dc->physicalWidth * 72.0 / dc->dpiX;
    double heightPt = dc->physicalHeight * 72.0 / dc->dpiY;
    dc->pdfSink = sink;
    dc->pdfClosure = closure;
    cairo_surface_t *surface = cairo_pdf_surface_create_for_stream(WritePdf, dc, widthPt, heightPt);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "quillbay");
    dc->pdf = surface;
    return true;
}

void BeginPdfPage(DeviceContext *dc) {
    if (!dc->pdf || dc->cr)
        return;
    cairo_pdf_surface_set_size(dc->pdf, dc->physicalWidth * 72.0 / dc->dpiX,
                               dc->physicalHeight * 72.0 / dc->dpiY);
    dc->cr = cairo_create(dc->pdf);
    cairo_scale(dc->cr, 72.0 / dc->dpiX, 72.0 / dc->dpiY);
    cairo_translate(dc->cr, dc->offsetX, dc->offsetY);
    cairo_rectangle(dc->cr, 0, 0, dc->width, dc->height);
    cairo_clip(dc->cr);
}

void ShowPdfPage(DeviceContext *dc) {
    if (!dc->cr)
        return;
    cairo_show_page(dc->cr);
    cairo_destroy(dc->cr);
    dc->cr = nullptr;
}

bool ClosePdf(DeviceContext *dc) {
    if (dc->cr) {
        cairo_destroy(dc->cr);
        dc->cr = nullptr;
    }
    bool whole = false;
    if (dc->pdf) {
        cairo_surface_finish(dc->pdf);
        whole = cairo_surface_status(dc->pdf) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(dc->pdf);
        dc->pdf = nullptr;
    }
    return whole;
}

} // namespace platform::gdi

using namespace platform::gdi;

extern "C" HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    if (!LookupDC(hdc) || cx <= 0 || cy <= 0 || cx > 32767 || cy > 32767) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto *bitmap = new Bitmap(cx, cy);
    if (cairo_surface_status(bitmap->surface) != CAIRO_STATUS_SUCCESS) {
        delete bitmap;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return static_cast<HBITMAP>(Register(bitmap));
}

extern "C" int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                                LPBITMAPINFO lpbmi, UINT usage) {
    auto *bitmap = LookupAs<Bitmap>(hbm, OBJ_BITMAP);
    if (!LookupDC(hdc) || !bitmap || !lpbmi || usage != DIB_RGB_COLORS)
        return 0;
    BITMAPINFOHEADER &header = lpbmi->bmiHeader;
    if (!lpvBits) {
        // Only the bitmap's description is asked for.
        header.biWidth = bitmap->width;
        header.biHeight = bitmap->height;
        header.biPlanes = 1;
        header.biBitCount = 32;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<DWORD>(bitmap->width * bitmap->height * 4);
        return bitmap->height;
    }
    if ((header.biBitCount != 32 && header.biBitCount != 24) || header.biCompression != BI_RGB ||
        header.biWidth != bitmap->width)
        return 0;
    const unsigned char *pixels = bitmap->Pixels();
    if (!pixels)
        return 0;
    const int stride = cairo_image_surface_get_stride(bitmap->surface);
    const bool bottomUp = header.biHeight > 0;
    const int rows = bitmap->height;
    const int bytesPerPixel = header.biBitCount / 8;
    const int rowBytes = ((bitmap->width * bytesPerPixel) + 3) & ~3;
    auto *out = static_cast<unsigned char *>(lpvBits);
    UINT copied = 0;
    for (UINT line = start; line < start + cLines && static_cast<int>(line) < rows; ++line) {
        // DIB line 0 is the bottom row of a bottom-up DIB.
        int sourceRow = bottomUp ? rows - 1 - static_cast<int>(line) : static_cast<int>(line);
        const unsigned char *src = pixels + sourceRow * stride;
        unsigned char *dst = out + (line - start) * static_cast<size_t>(rowBytes);
        for (int x = 0; x < bitmap->width; ++x) {
            dst[x * bytesPerPixel + 0] = src[x * 4 + 0];
            dst[x * bytesPerPixel + 1] = src[x * 4 + 1];
            dst[x * bytesPerPixel + 2] = src[x * 4 + 2];
            if (bytesPerPixel == 4)
                dst[x * 4 + 3] = 0;
        }
        ++copied;
    }
    return static_cast<int>(copied);
}

extern "C" BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc)
        return FALSE;
    const POINT from = dc->position;
    dc->position = {x, y};
    Pen *pen = dc->pen ? dc->pen : StockPen(BLACK_PEN);
    if (!dc->cr || pen->logical.lopnStyle == PS_NULL)
        return TRUE;
    const int width = pen->logical.lopnWidth.x > 0 ? pen->logical.lopnWidth.x : 1;
    if (from.x == x || from.y == y) {
        if (from.x == x && from.y == y)
            return TRUE;
        // Axis-aligned: exactly the pixels the platform paints, the end
        // point left out and the pen's width centred on the line.
        int left, top, w, h;
        if (from.y == y) {
            left = std::min(from.x, x) + (x < from.x ? 1 : 0);
            w = std::abs(x - from.x);
            top = y - width / 2;
            h = width;
        } else {
            top = std::min(from.y, y) + (y < from.y ? 1 : 0);
            h = std::abs(y - from.y);
            left = x - width / 2;
            w = width;
        }
        if (dc->kind == DeviceContext::Memory) {
            FillPixels(dc, left, top, w, h, pen->logical.lopnColor);
            return TRUE;
        }
        SetColor(dc->cr, pen->logical.lopnColor);
        cairo_rectangle(dc->cr, left, top, w, h);
        cairo_fill(dc->cr);
        return TRUE;
    }
    cairo_t *cr = dc->cr;
    CairoDraws(dc);
    SetColor(cr, pen->logical.lopnColor);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_move_to(cr, from.x + 0.5, from.y + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
    return TRUE;
}

extern "C" BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc || (!lpString && c > 0))
        return FALSE;
    if (!dc->cr || c == 0)
        return TRUE;
    const std::string utf8 = Utf8Of(lpString, c);
    DrawTextAt(dc, x, y, Measure(dc, utf8), nullptr);
    return TRUE;
}

extern "C" BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc || !psizl || c < 0)
        return FALSE;
    const TextMetrics m = Measure(dc, Utf8Of(lpString, c));
    psizl->cx = static_cast<LONG>(m.advance + 0.5);
    psizl->cy = static_cast<LONG>(m.ascent + m.descent + 0.5);
    return TRUE;
}

extern "C" int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    DeviceContext *dc = LookupDC(hdc);
    if (!dc || !lprc)
        return 0;
    const TextMetrics m = Measure(dc, Utf8Of(lpchText, cchText));
    const double height = m.ascent + m.descent;
    if (format & DT_CALCRECT) {
        lprc->right = lprc->left + static_cast<LONG>(m.advance + 0.5);
        lprc->bottom = lprc->top + static_cast<LONG>(height + 0.5);
        return static_cast<int>(height + 0.5);
    }
    double x = lprc->left, y = lprc->top;
    if (format & DT_CENTER)
        x = (lprc->left + lprc->right - m.advance) / 2.0;
    else if (format & DT_RIGHT)
        x = lprc->right - m.advance;
    if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
        y = (lprc->top + lprc->bottom - height) / 2.0;
    else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM))
        y = lprc->bottom - height;
    // Whole pixels, as the platform places text; clipped to the rectangle
    // only when the text's cell reaches outside it.
    const int left = static_cast<int>(x), top = static_cast<int>(y);
    const bool outside = left < lprc->left || top < lprc->top || left + m.advance > lprc->right ||
                         top + height > lprc->bottom;
    const bool clipped = outside && !(format & DT_NOCLIP);
    if (dc->cr)
        DrawTextAt(dc, left, top, m, clipped ? lprc : nullptr);
    return static_cast<int>(height + 0.5);
}

extern "C" int WINAPI FillRect(HDC hDC, const RECT *lprc, HBRUSH hbr) {
    DeviceContext *dc = LookupDC(hDC);
    auto *brush = LookupAs<Brush>(hbr, OBJ_BRUSH);
    if (!dc || !lprc || !brush)
        return 0;
    if (!dc->cr || brush->hollow)
        return 1;
    if (dc->kind == DeviceContext::Memory) {
        FillPixels(dc, lprc->left, lprc->top, lprc->right - lprc->left, lprc->bottom - lprc->top,
                   brush->color);
        return 1;
    }
    SetColor(dc->cr, brush->color);
    cairo_rectangle(dc->cr, lprc->left, lprc->top, lprc->right - lprc->left,
                    lprc->bottom - lprc->top);
    cairo_fill(dc->cr);
    return 1;
}
