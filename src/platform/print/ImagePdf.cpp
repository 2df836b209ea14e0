#include "ImagePdf.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cstring>

namespace platform::print {
namespace {

struct Reading {
    std::string_view bytes;
    size_t at = 0;
};

cairo_status_t ReadBytes(void *closure, unsigned char *data, unsigned int length) {
    auto *reading = static_cast<Reading *>(closure);
    if (reading->bytes.size() - reading->at < length)
        return CAIRO_STATUS_READ_ERROR;
    memcpy(data, reading->bytes.data() + reading->at, length);
    reading->at += length;
    return CAIRO_STATUS_SUCCESS;
}

cairo_status_t WriteBytes(void *closure, const unsigned char *data, unsigned int length) {
    return JobFile::Sink(closure, data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

// The image's pixels: a PNG decoded; a JPEG's own bytes attached to a
// surface of its size, which the PDF then holds in place of pixels.
cairo_surface_t *SurfaceOf(std::string_view image, const DocumentFacts &facts) {
    if (facts.format == DocumentFormat::kPng) {
        Reading reading{image};
        return cairo_image_surface_create_from_png_stream(ReadBytes, &reading);
    }
    cairo_surface_t *surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, facts.width, facts.height);
    cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG,
                                reinterpret_cast<const unsigned char *>(image.data()),
                                image.size(), nullptr, nullptr);
    return surface;
}

} // namespace

bool ImagePdf::Write(std::string_view image, const DocumentFacts &facts,
                     const ImagePlacement &placement, JobFile &file, std::string &why) {
    cairo_surface_t *pixels = SurfaceOf(image, facts);
    if (cairo_surface_status(pixels) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_width(pixels) <= 0) {
        cairo_surface_destroy(pixels);
        why = std::string("the ") + DocumentFormatName(facts.format) +
              " image is broken: it cannot be decoded";
        return false;
    }
    cairo_surface_t *pdf = cairo_pdf_surface_create_for_stream(
        WriteBytes, &file, placement.pageWidth, placement.pageHeight);
    cairo_t *cr = cairo_create(pdf);
    cairo_translate(cr, placement.x, placement.y);
    cairo_scale(cr, placement.width / cairo_image_surface_get_width(pixels),
                placement.height / cairo_image_surface_get_height(pixels));
    cairo_set_source_surface(cr, pixels, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    const bool written = cairo_surface_status(pdf) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(pdf);
    cairo_surface_destroy(pixels);
    if (!written)
        why = "the image's page could not be written";
    return written;
}

} // namespace platform::print
