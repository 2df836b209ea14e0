// GlyphCache: what a font at one size keeps of its glyphs so that text on a
// memory bitmap is drawn straight into the pixels: each character's glyph
// and advance, and each glyph's coverage as cairo renders it, made once.
// Drawing through the cache blends the coverage the way cairo composites a
// solid colour through a glyph, so the pixels are cairo's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../kernel/windef.h"
#include "wingdi.h"

namespace platform::gdi {

// A glyph's coverage, cropped to its ink, placed from the glyph's origin.
struct GlyphImage {
    int left = 0; // of the first column, from the origin
    int top = 0;  // of the first row, from the origin (down is positive)
    int width = 0;
    int height = 0;
    // 1: one coverage for blue, green and red; 3: one each, in that order
    // (fonts rendered for subpixel screens).
    int channels = 1;
    std::vector<uint8_t> coverage; // rows of width x channels bytes

    // The glyph drawn in a text colour over a background colour, as 32-bit
    // pixels: kept for the colours drawn last, since text on a background
    // it has just filled needs nothing else.
    struct Tint {
        COLORREF text = 0;
        COLORREF background = 0;
        std::vector<uint32_t> pixels;
    };
    mutable Tint tint;
};

// A character of the font: its glyph and how far it moves the pen.
struct GlyphChar {
    unsigned long index = 0;
    double advanceX = 0;
    double advanceY = 0;
};

// A glyph to draw: its image and its origin in whole pixels.
struct PlacedGlyph {
    const GlyphImage *image;
    int x;
    int y;
};

// Where glyphs are drawn: 32-bit pixels (B G R and an unused byte) and the
// rectangle drawing may touch.
struct PixelTarget {
    unsigned char *data;
    size_t stride;
    RECT clip;
};

// The colours of a text, and the rectangle under it that holds nothing but
// the background colour (the cell of an opaque text, just filled); an
// empty rectangle when nothing is known of the pixels under the text.
struct TextPaint {
    COLORREF text;
    COLORREF background;
    RECT plain;
};

class GlyphCache {
public:
    GlyphCache(double ascent, double descent) : m_ascent(ascent), m_descent(descent) {}
    GlyphCache(const GlyphCache &) = delete;
    GlyphCache &operator=(const GlyphCache &) = delete;

    double Ascent() const { return m_ascent; }
    double Descent() const { return m_descent; }
    const GlyphChar *FindChar(uint32_t code) const;
    const GlyphChar *AddChar(uint32_t code, const GlyphChar &glyph);
    const GlyphImage *FindImage(unsigned long index) const;
    const GlyphImage *AddImage(unsigned long index, GlyphImage image);

    // The code point at text[at], moving at past it; false at malformed or
    // overlong UTF-8.
    static bool NextCodePoint(std::string_view text, size_t &at, uint32_t &code);
    // The image of a glyph drawn white on black into 32-bit pixels with its
    // origin at (originX, originY): each channel's value is the coverage.
    static GlyphImage FromWhiteOnBlack(const unsigned char *pixels, size_t stride, int width,
                                       int height, int originX, int originY);
    // The box the glyphs' images cover; empty when they have no ink.
    static RECT Extent(const std::vector<PlacedGlyph> &glyphs);
    // Draws the glyphs in the text colour: colour OVER the pixels through
    // each glyph's coverage, rounded as cairo's compositing rounds. Glyphs
    // whose images overlap have their coverage summed first (saturating),
    // as cairo does for overlapping glyphs. A glyph wholly on the plain
    // background is copied from its tint instead, the same pixels. Call
    // with the font's lock held (the tints change).
    static void Draw(const PixelTarget &target, const std::vector<PlacedGlyph> &glyphs,
                     const TextPaint &paint);

private:
    double m_ascent;
    double m_descent;
    GlyphChar m_ascii[128] = {};
    bool m_asciiKnown[128] = {};
    std::unordered_map<uint32_t, GlyphChar> m_chars;
    std::unordered_map<unsigned long, std::unique_ptr<GlyphImage>> m_images;
};

} // namespace platform::gdi
