// DrawDib on the gdi component's surfaces.
#include <cairo.h>
#include <cstring>
#include <memory>
#include <vector>

#include "../gdi/GdiObjects.h"
#include "../kernel/KernelObject.h"
#include "../kernel/winbase.h"
#include "vfw.h"

namespace {

class DrawDibObject : public platform::KernelObject {};

// A view of the source rectangle, top-down, 4 bytes per pixel (B G R x).
struct Source {
    const unsigned char *bits;
    int width; // of the whole bitmap
    int height;
    bool bottomUp;
    int x, y, w, h; // the rectangle, top-left origin

    const unsigned char *Row(int row) const {
        int y0 = y + row;
        int stored = bottomUp ? height - 1 - y0 : y0;
        return bits + static_cast<size_t>(stored) * static_cast<size_t>(width) * 4 +
               static_cast<size_t>(x) * 4;
    }
};

// The source pixels each destination pixel takes along one axis: a run with
// weights when shrinking (area averaging), one pixel when enlarging.
struct Span {
    int first;
    std::vector<double> weights;
};

std::vector<Span> AxisSpans(int source, int destination) {
    std::vector<Span> spans(static_cast<size_t>(destination));
    const double scale = static_cast<double>(source) / destination;
    for (int i = 0; i < destination; ++i) {
        Span &span = spans[static_cast<size_t>(i)];
        if (destination >= source) {
            span.first = static_cast<int>(static_cast<long long>(i) * source / destination);
            span.weights = {1.0};
            continue;
        }
        const double begin = i * scale, end = (i + 1) * scale;
        span.first = static_cast<int>(begin);
        for (int s = span.first; s < end && s < source; ++s) {
            double cover = std::min<double>(end, s + 1) - std::max<double>(begin, s);
            span.weights.push_back(cover / scale);
        }
    }
    return spans;
}

// Stretches the source to w x h pixels (B G R x, top-down) into out.
void Stretch(const Source &src, int w, int h, std::vector<unsigned char> &out) {
    std::vector<Span> columns = AxisSpans(src.w, w);
    std::vector<Span> rows = AxisSpans(src.h, h);
    // Horizontal pass into rows of doubles, then the vertical pass.
    std::vector<double> horizontal(static_cast<size_t>(w) * static_cast<size_t>(src.h) * 3);
    for (int y = 0; y < src.h; ++y) {
        const unsigned char *row = src.Row(y);
        double *line = &horizontal[static_cast<size_t>(y) * static_cast<size_t>(w) * 3];
        for (int x = 0; x < w; ++x) {
            const Span &span = columns[static_cast<size_t>(x)];
            double b = 0, g = 0, r = 0;
            for (size_t k = 0; k < span.weights.size(); ++k) {
                const unsigned char *p = row + (span.first + static_cast<int>(k)) * 4;
                b += p[0] * span.weights[k];
                g += p[1] * span.weights[k];
                r += p[2] * span.weights[k];
            }
            line[x * 3] = b;
            line[x * 3 + 1] = g;
            line[x * 3 + 2] = r;
        }
    }
    out.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    for (int y = 0; y < h; ++y) {
        const Span &span = rows[static_cast<size_t>(y)];
        unsigned char *dst = &out[static_cast<size_t>(y) * static_cast<size_t>(w) * 4];
        for (int x = 0; x < w; ++x) {
            double c[3] = {0, 0, 0};
            for (size_t k = 0; k < span.weights.size(); ++k) {
                const double *p =
                    &horizontal[(static_cast<size_t>(span.first) + k) * static_cast<size_t>(w) * 3 +
                                static_cast<size_t>(x) * 3];
                for (int i = 0; i < 3; ++i)
                    c[i] += p[i] * span.weights[k];
            }
            for (int i = 0; i < 3; ++i)
                dst[x * 4 + i] = static_cast<unsigned char>(std::min(255.0, c[i] + 0.5));
        }
    }
}

void DrawOnRaster(platform::gdi::DeviceContext *dc, const Source &src, int xDst, int yDst, int w,
                  int h) {
    cairo_surface_t *surface = dc->bitmap ? dc->bitmap->surface : nullptr;
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return;
    // Only the part that lands on the bitmap is computed.
    std::vector<unsigned char> stretched;
    Stretch(src, w, h, stretched);
    unsigned char *pixels = dc->bitmap->Pixels();
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < h; ++y) {
        int ty = yDst + y;
        if (ty < 0 || ty >= height)
            continue;
        for (int x = 0; x < w; ++x) {
            int tx = xDst + x;
            if (tx < 0 || tx >= width)
                continue;
            memcpy(pixels + static_cast<size_t>(ty) * static_cast<size_t>(stride) +
                       static_cast<size_t>(tx) * 4,
                   &stretched[(static_cast<size_t>(y) * static_cast<size_t>(w) +
                               static_cast<size_t>(x)) *
                              4],
                   4);
        }
    }
    cairo_surface_mark_dirty(surface);
}

void DrawOnPage(platform::gdi::DeviceContext *dc, const Source &src, int xDst, int yDst, int w,
                int h) {
    cairo_surface_t *image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, src.w, src.h);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return;
    }
    unsigned char *pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < src.h; ++y)
        memcpy(pixels + static_cast<size_t>(y) * static_cast<size_t>(stride), src.Row(y),
               static_cast<size_t>(src.w) * 4);
    cairo_surface_mark_dirty(image);
    cairo_t *cr = dc->cr;
    cairo_save(cr);
    cairo_translate(cr, xDst, yDst);
    cairo_scale(cr, static_cast<double>(w) / src.w, static_cast<double>(h) / src.h);
    cairo_set_source_surface(cr, image, 0, 0);
    // The picture's own pixels, each a sharp square on the page.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, src.w, src.h);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
}

} // namespace

extern "C" HDRAWDIB WINAPI DrawDibOpen() {
    return platform::AddHandle(std::make_shared<DrawDibObject>());
}

extern "C" BOOL WINAPI DrawDibClose(HDRAWDIB hdd) {
    if (!platform::LookupHandleAs<DrawDibObject>(hdd))
        return FALSE;
    return CloseHandle(hdd);
}

extern "C" BOOL WINAPI DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits, int xSrc, int ySrc,
                                   int dxSrc, int dySrc, UINT) {
    platform::gdi::DeviceContext *dc = platform::gdi::LookupDC(hdc);
    if (!platform::LookupHandleAs<DrawDibObject>(hdd) || !dc || !lpbi || !lpBits)
        return FALSE;
    if (lpbi->biBitCount != 32 || lpbi->biCompression != BI_RGB || lpbi->biWidth <= 0 ||
        lpbi->biHeight == 0)
        return FALSE;
    Source src{static_cast<const unsigned char *>(lpBits),
               lpbi->biWidth,
               lpbi->biHeight < 0 ? -lpbi->biHeight : lpbi->biHeight,
               lpbi->biHeight > 0,
               xSrc,
               ySrc,
               dxSrc,
               dySrc};
    if (dxDst == -1)
        dxDst = dxSrc;
    if (dyDst == -1)
        dyDst = dySrc;
    // The source rectangle is held to the bitmap.
    if (src.x < 0) {
        src.w += src.x;
        src.x = 0;
    }
    if (src.y < 0) {
        src.h += src.y;
        src.y = 0;
    }
    src.w = std::min(src.w, src.width - src.x);
    src.h = std::min(src.h, src.height - src.y);
    if (dxDst <= 0 || dyDst <= 0 || src.w <= 0 || src.h <= 0)
        return TRUE; // nothing to draw
    if (dc->kind == platform::gdi::DeviceContext::Printer) {
        if (dc->cr)
            DrawOnPage(dc, src, xDst, yDst, dxDst, dyDst);
        return dc->cr != nullptr;
    }
    DrawOnRaster(dc, src, xDst, yDst, dxDst, dyDst);
    return TRUE;
}
