// DrawDib on the gdi component's surfaces.
#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "../gdi/GdiObjects.h"
#include "../kernel/KernelObject.h"
#include "../kernel/winbase.h"
#include "DibSource.h"
#include "DibStretch.h"
#include "PagePlan.h"
#include "vfw.h"

namespace {

using platform::vfw::DibSource;
using platform::vfw::PagePlan;

class DrawDibObject : public platform::KernelObject {};

// cairo's image surfaces hold at most this many pixels a side.
constexpr int kMostImageSide = 32767;
// Under this many points a side, a page's image is drawn with a filter that
// the page's analysis never drops (see SharpFilter).
constexpr double kThinPoints = 2.0;

void DrawOnRaster(platform::gdi::DeviceContext *dc, const DibSource &src, int xDst, int yDst, int w,
                  int h) {
    cairo_surface_t *surface = dc->bitmap ? dc->bitmap->surface : nullptr;
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        return;
    // Only the part that lands on the bitmap is computed.
    std::vector<unsigned char> stretched;
    platform::vfw::StretchDib(src, w, h, stretched);
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

// Where the source's pixel edges land on the page: column i of the view at
// x0 + i * sx, row j at y0 + j * sy (device units, fractions kept).
struct Placement {
    double x0, y0, sx, sy;
    double X(int i) const { return x0 + i * sx; }
    double Y(int j) const { return y0 + j * sy; }
};

// The part of the source whose pixels land on the drawable area, and where
// its pixels land: a picture never needs more of itself than the page shows.
bool VisiblePart(const platform::gdi::DeviceContext *dc, const DibSource &src, int xDst, int yDst,
                 int w, int h, DibSource &part, Placement &at) {
    const double sx = static_cast<double>(w) / src.w, sy = static_cast<double>(h) / src.h;
    const double left = std::max(0.0, static_cast<double>(xDst)),
                 right = std::min(static_cast<double>(dc->width), static_cast<double>(xDst) + w),
                 top = std::max(0.0, static_cast<double>(yDst)),
                 bottom = std::min(static_cast<double>(dc->height), static_cast<double>(yDst) + h);
    if (left >= right || top >= bottom)
        return false;
    const int c0 = std::max(0, static_cast<int>(std::floor((left - xDst) / sx)));
    const int c1 = std::min(src.w, static_cast<int>(std::ceil((right - xDst) / sx)));
    const int r0 = std::max(0, static_cast<int>(std::floor((top - yDst) / sy)));
    const int r1 = std::min(src.h, static_cast<int>(std::ceil((bottom - yDst) / sy)));
    if (c0 >= c1 || r0 >= r1)
        return false;
    part = src.Part(c0, r0, c1, r1);
    at = Placement{xDst + c0 * sx, yDst + r0 * sy, sx, sy};
    return true;
}

// The view's pixels as an image of at most tw x th pixels: the pixels
// themselves, or averaged down when there are more than that.
cairo_surface_t *PageImage(const DibSource &part, int tw, int th) {
    std::vector<unsigned char> shrunk;
    const bool shrink = tw < part.w || th < part.h;
    if (shrink)
        platform::vfw::StretchDib(part, tw, th, shrunk);
    else
        tw = part.w, th = part.h;
    cairo_surface_t *image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, tw, th);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS)
        return image;
    unsigned char *pixels = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < th; ++y)
        memcpy(pixels + static_cast<size_t>(y) * static_cast<size_t>(stride),
               shrink ? &shrunk[static_cast<size_t>(y) * static_cast<size_t>(tw) * 4] : part.Row(y),
               static_cast<size_t>(tw) * 4);
    cairo_surface_mark_dirty(image);
    return image;
}

// How many pixels a side of n source pixels needs on the page: no more
// than the dots it covers, nor than cairo's limit.
int Pixels(int n, double dots) {
    return std::min({n, kMostImageSide, std::max(1, static_cast<int>(std::ceil(dots)))});
}

// The filter that keeps an image's or a mask's pixels sharp squares under
// the current transformation.
cairo_filter_t SharpFilter(cairo_t *cr, int width, int height) {
    double w = width, h = height;
    cairo_user_to_device_distance(cr, &w, &h);
    // Note: the page's analysis rounds a nearest-neighbour pattern's extent
    // to whole points and drops one that rounds to nothing (a thin rule, a
    // small mark). The Gaussian filter's extent is padded instead, and a
    // page writes it, as the nearest one, without interpolation.
    const bool thin = std::fabs(w) < kThinPoints || std::fabs(h) < kThinPoints;
    return thin ? CAIRO_FILTER_GAUSSIAN : CAIRO_FILTER_NEAREST;
}

// Draws the view as an image into the rectangle its pixels cover.
void PlaceImage(cairo_t *cr, const DibSource &part, const Placement &at) {
    const double width = at.X(part.w) - at.x0, height = at.Y(part.h) - at.y0;
    cairo_surface_t *image = PageImage(part, Pixels(part.w, width), Pixels(part.h, height));
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return;
    }
    const int iw = cairo_image_surface_get_width(image), ih = cairo_image_surface_get_height(image);
    cairo_save(cr);
    cairo_translate(cr, at.x0, at.y0);
    cairo_scale(cr, width / iw, height / ih);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), SharpFilter(cr, iw, ih));
    cairo_rectangle(cr, 0, 0, iw, ih);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
}

// The black pixels of the view's black-and-white rows as a one-bit mask of
// at most tw x th pixels: pixel for pixel, or, with more pixels than that,
// black where the pixels a mask pixel covers are at least half black.
cairo_surface_t *StencilMask(const DibSource &part, const PagePlan &plan, int tw, int th) {
    std::vector<unsigned char> shrunk;
    DibSource pixels = part;
    if (tw < part.w || th < part.h) {
        platform::vfw::StretchDib(part, tw, th, shrunk);
        pixels = DibSource{shrunk.data(), tw, th, false, 0, 0, tw, th};
    }
    cairo_surface_t *mask = cairo_image_surface_create(CAIRO_FORMAT_A1, pixels.w, pixels.h);
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS)
        return mask;
    unsigned char *bits = cairo_image_surface_get_data(mask);
    const int stride = cairo_image_surface_get_stride(mask);
    for (int y = 0; y < pixels.h; ++y) {
        // The image bands cover their rows: the mask leaves them empty.
        if (plan.Banded(static_cast<int>(static_cast<long long>(y) * part.h / pixels.h)))
            continue;
        const unsigned char *row = pixels.Row(y);
        unsigned char *line = bits + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < pixels.w; ++x) {
            // A1 keeps the first pixel of a byte in its lowest bit on this
            // (little-endian) machine.
            if (row[x * 4 + 1] < 128)
                line[x / 8] |= static_cast<unsigned char>(1u << (x % 8));
        }
    }
    cairo_surface_mark_dirty(mask);
    return mask;
}

// The plan's stencil: a white ground under the whole view, black through
// the mask of its black-and-white rows, then the other rows as images.
void PlaceStencil(cairo_t *cr, const DibSource &part, const Placement &at, const PagePlan &plan) {
    const double width = at.X(part.w) - at.x0, height = at.Y(part.h) - at.y0;
    cairo_surface_t *mask = StencilMask(part, plan, Pixels(part.w, width), Pixels(part.h, height));
    if (cairo_surface_status(mask) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(mask);
        return;
    }
    const int mw = cairo_image_surface_get_width(mask), mh = cairo_image_surface_get_height(mask);
    cairo_save(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, at.x0, at.y0, width, height);
    cairo_fill(cr);
    cairo_translate(cr, at.x0, at.y0);
    cairo_scale(cr, width / mw, height / mh);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_pattern_t *pattern = cairo_pattern_create_for_surface(mask);
    cairo_pattern_set_filter(pattern, SharpFilter(cr, mw, mh));
    cairo_mask(cr, pattern);
    cairo_pattern_destroy(pattern);
    cairo_restore(cr);
    cairo_surface_destroy(mask);
    for (const PagePlan::Band &band : plan.Bands())
        PlaceImage(cr, part.Part(0, band.top, part.w, band.bottom),
                   Placement{at.x0, at.Y(band.top), at.sx, at.sy});
}

// On a printer the picture goes into the page as a stencil and images whose
// pixels land where the stretch puts them; justImage keeps it one image.
void DrawOnPage(platform::gdi::DeviceContext *dc, const DibSource &src, int xDst, int yDst, int w,
                int h, bool justImage) {
    DibSource part{};
    Placement at{};
    if (!VisiblePart(dc, src, xDst, yDst, w, h, part, at))
        return;
    if (!justImage) {
        const PagePlan plan(part);
        if (plan.HasStencil()) {
            PlaceStencil(dc->cr, part, at, plan);
            return;
        }
    }
    PlaceImage(dc->cr, part, at);
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
                                   int dxSrc, int dySrc, UINT wFlags) {
    platform::gdi::DeviceContext *dc = platform::gdi::LookupDC(hdc);
    if (!platform::LookupHandleAs<DrawDibObject>(hdd) || !dc || !lpbi || !lpBits)
        return FALSE;
    if (lpbi->biBitCount != 32 || lpbi->biCompression != BI_RGB || lpbi->biWidth <= 0 ||
        lpbi->biHeight == 0)
        return FALSE;
    DibSource src{static_cast<const unsigned char *>(lpBits),
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
            DrawOnPage(dc, src, xDst, yDst, dxDst, dyDst, (wFlags & DDF_JUSTDRAWIT) != 0);
        return dc->cr != nullptr;
    }
    DrawOnRaster(dc, src, xDst, yDst, dxDst, dyDst);
    return TRUE;
}
