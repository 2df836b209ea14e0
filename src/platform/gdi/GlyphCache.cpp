#include "GlyphCache.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform::gdi {
namespace {

// a x b / 255, rounded as pixman rounds it.
uint32_t Mul(uint32_t a, uint32_t b) {
    const uint32_t t = a * b + 0x80;
    return ((t >> 8) + t) >> 8;
}

// A colour channel over a pixel's channel through coverage m: the colour
// scaled by m, plus the pixel scaled by what m leaves, saturated.
uint8_t Over(uint32_t color, uint32_t pixel, uint32_t m) {
    return static_cast<uint8_t>(std::min<uint32_t>(255, Mul(color, m) + Mul(pixel, 255 - m)));
}

struct Box {
    int left, top, right, bottom;
};

Box BoxOf(const PlacedGlyph &glyph) {
    const GlyphImage &image = *glyph.image;
    const int left = glyph.x + image.left, top = glyph.y + image.top;
    return {left, top, left + image.width, top + image.height};
}

bool Intersect(const Box &a, const Box &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whether any two glyphs' images share a pixel. The boxes are taken in
// order of their left edges (text runs left to right, so they mostly are
// already); a box is tried against those before it only when one of them
// reaches past its left edge.
bool AnyOverlap(const std::vector<PlacedGlyph> &glyphs) {
    std::vector<Box> boxes;
    boxes.reserve(glyphs.size());
    for (const PlacedGlyph &glyph : glyphs) {
        if (glyph.image->width > 0 && glyph.image->height > 0)
            boxes.push_back(BoxOf(glyph));
    }
    auto byLeft = [](const Box &a, const Box &b) { return a.left < b.left; };
    if (!std::is_sorted(boxes.begin(), boxes.end(), byLeft))
        std::sort(boxes.begin(), boxes.end(), byLeft);
    int reach = INT_MIN; // the furthest right edge so far
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (reach > boxes[i].left) {
            for (size_t j = 0; j < i; ++j) {
                if (Intersect(boxes[i], boxes[j]))
                    return true;
            }
        }
        reach = std::max(reach, boxes[i].right);
    }
    return false;
}

// Blends one image at (x, y) into the target, within its clip.
void Blend(const PixelTarget &target, const GlyphImage &image, int x, int y, const uint8_t bgr[3]) {
    const int left = x + image.left, top = y + image.top;
    const int x0 = std::max(target.clip.left, left),
              x1 = std::min(target.clip.right, left + image.width);
    const int y0 = std::max(target.clip.top, top),
              y1 = std::min(target.clip.bottom, top + image.height);
    const auto channels = static_cast<size_t>(image.channels);
    for (int row = y0; row < y1; ++row) {
        const uint8_t *cover = image.coverage.data() +
                               (static_cast<size_t>(row - top) * static_cast<size_t>(image.width) +
                                static_cast<size_t>(x0 - left)) *
                                   channels;
        unsigned char *pixel =
            target.data + static_cast<size_t>(row) * target.stride + static_cast<size_t>(x0) * 4;
        for (int column = x0; column < x1; ++column, cover += channels, pixel += 4) {
            if (channels == 1 && cover[0] == 0)
                continue; // most of a glyph's box
            for (size_t c = 0; c < 3; ++c) {
                const uint32_t m = cover[channels == 1 ? 0 : c];
                pixel[c] = m == 255 ? bgr[c] : Over(bgr[c], pixel[c], m);
            }
        }
    }
}

bool Inside(const Box &box, const RECT &area) {
    return box.left >= area.left && box.top >= area.top && box.right <= area.right &&
           box.bottom <= area.bottom;
}

// The image's tint for the paint's colours, made when the colours changed.
const std::vector<uint32_t> &TintOf(const GlyphImage &image, const TextPaint &paint) {
    GlyphImage::Tint &tint = image.tint;
    const auto count = static_cast<size_t>(image.width * image.height);
    if (tint.pixels.size() == count && tint.text == paint.text &&
        tint.background == paint.background)
        return tint.pixels;
    const uint8_t text[3] = {GetBValue(paint.text), GetGValue(paint.text), GetRValue(paint.text)};
    const uint8_t back[3] = {GetBValue(paint.background), GetGValue(paint.background),
                             GetRValue(paint.background)};
    const auto channels = static_cast<size_t>(image.channels);
    tint.pixels.resize(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t pixel = 0;
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t m = image.coverage[i * channels + (channels == 1 ? 0 : c)];
            pixel |= static_cast<uint32_t>(Over(text[c], back[c], m)) << (8 * c);
        }
        tint.pixels[i] = pixel;
    }
    tint.text = paint.text;
    tint.background = paint.background;
    return tint.pixels;
}

// Copies a row of count pixels. A glyph's row is short: moved in blocks of
// four pixels in place rather than through a call, the last block ending
// at the row's end (overlapping the one before when count is not a
// multiple of four); up to sixteen pixels without a loop.
void CopyRow(unsigned char *to, const uint32_t *from, size_t count) {
    if (count < 4) {
        memcpy(to, from, count * 4);
        return;
    }
    const size_t last = count - 4;
    if (count <= 16) {
        memcpy(to, from, 16);
        if (count > 8)
            memcpy(to + 16, from + 4, 16);
        if (count > 12)
            memcpy(to + 32, from + 8, 16);
    } else {
        for (size_t i = 0; i < last; i += 4)
            memcpy(to + i * 4, from + i, 16);
    }
    memcpy(to + last * 4, from + last, 16);
}

// Copies the image's tint at (x, y) into the target; all of the glyph's
// box lies within the target's clip.
void Copy(const PixelTarget &target, const GlyphImage &image, int x, int y,
          const TextPaint &paint) {
    const std::vector<uint32_t> &tint = TintOf(image, paint);
    const auto width = static_cast<size_t>(image.width);
    const int left = x + image.left, top = y + image.top;
    unsigned char *to =
        target.data + static_cast<size_t>(top) * target.stride + static_cast<size_t>(left) * 4;
    const uint32_t *from = tint.data();
    for (int row = 0; row < image.height; ++row, to += target.stride, from += width)
        CopyRow(to, from, width);
}

// The glyphs' coverage summed into one image over all of them.
GlyphImage Sum(const std::vector<PlacedGlyph> &glyphs) {
    Box all{0, 0, 0, 0};
    bool first = true;
    int channels = 1;
    for (const PlacedGlyph &glyph : glyphs) {
        if (glyph.image->width == 0 || glyph.image->height == 0)
            continue;
        const Box box = BoxOf(glyph);
        all = first ? box
                    : Box{std::min(all.left, box.left), std::min(all.top, box.top),
                          std::max(all.right, box.right), std::max(all.bottom, box.bottom)};
        first = false;
        channels = std::max(channels, glyph.image->channels);
    }
    GlyphImage sum;
    sum.left = all.left;
    sum.top = all.top;
    sum.width = all.right - all.left;
    sum.height = all.bottom - all.top;
    sum.channels = channels;
    sum.coverage.assign(static_cast<size_t>(sum.width * sum.height * channels), 0);
    for (const PlacedGlyph &glyph : glyphs) {
        const GlyphImage &image = *glyph.image;
        const Box box = BoxOf(glyph);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const uint8_t *from =
                    &image.coverage[static_cast<size_t>((y * image.width + x) * image.channels)];
                uint8_t *to = &sum.coverage[static_cast<size_t>(
                    ((box.top - all.top + y) * sum.width + box.left - all.left + x) * channels)];
                for (int c = 0; c < channels; ++c) {
                    const int added = to[c] + from[image.channels == 1 ? 0 : c];
                    to[c] = static_cast<uint8_t>(std::min(255, added));
                }
            }
        }
    }
    return sum;
}

// Whether a code point is one cairo accepts in text: not a surrogate, not
// a non-character, within Unicode.
bool Acceptable(uint32_t code) {
    return code < 0x110000 && (code & 0xFFFFF800) != 0xD800 && (code < 0xFDD0 || code > 0xFDEF) &&
           (code & 0xFFFE) != 0xFFFE;
}

} // namespace

const GlyphChar *GlyphCache::FindChar(uint32_t code) const {
    if (code < 128)
        return m_asciiKnown[code] ? &m_ascii[code] : nullptr;
    auto it = m_chars.find(code);
    return it == m_chars.end() ? nullptr : &it->second;
}

const GlyphChar *GlyphCache::AddChar(uint32_t code, const GlyphChar &glyph) {
    if (code < 128) {
        m_ascii[code] = glyph;
        m_asciiKnown[code] = true;
        return &m_ascii[code];
    }
    return &(m_chars[code] = glyph);
}

const GlyphImage *GlyphCache::FindImage(unsigned long index) const {
    auto it = m_images.find(index);
    return it == m_images.end() ? nullptr : it->second.get();
}

const GlyphImage *GlyphCache::AddImage(unsigned long index, GlyphImage image) {
    auto &slot = m_images[index];
    slot = std::make_unique<GlyphImage>(std::move(image));
    return slot.get();
}

bool GlyphCache::NextCodePoint(std::string_view text, size_t &at, uint32_t &code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80             ? 1
                    : (lead & 0xE0) == 0xC0 ? 2
                    : (lead & 0xF0) == 0xE0 ? 3
                    : (lead & 0xF8) == 0xF0 ? 4
                                            : 0;
    if (length == 0 || at + length > text.size())
        return false;
    code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return false;
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || !Acceptable(code))
        return false;
    at += length;
    return true;
}

GlyphImage GlyphCache::FromWhiteOnBlack(const unsigned char *pixels, size_t stride, int width,
                                        int height, int originX, int originY) {
    int left = width, top = height, right = 0, bottom = 0;
    bool even = true; // blue, green and red alike everywhere
    for (int y = 0; y < height; ++y) {
        const unsigned char *row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = row + static_cast<size_t>(x) * 4;
            if (!p[0] && !p[1] && !p[2])
                continue;
            even = even && p[0] == p[1] && p[1] == p[2];
            left = std::min(left, x);
            right = std::max(right, x + 1);
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
        }
    }
    GlyphImage image;
    if (left >= right)
        return image; // no ink: a space
    image.left = left - originX;
    image.top = top - originY;
    image.width = right - left;
    image.height = bottom - top;
    image.channels = even ? 1 : 3;
    image.coverage.reserve(static_cast<size_t>(image.width * image.height * image.channels));
    for (int y = top; y < bottom; ++y) {
        const unsigned char *p =
            pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(left) * 4;
        for (int x = left; x < right; ++x, p += 4)
            image.coverage.insert(image.coverage.end(), p, p + image.channels);
    }
    return image;
}

RECT GlyphCache::Extent(const std::vector<PlacedGlyph> &glyphs) {
    RECT all{0, 0, 0, 0};
    bool first = true;
    for (const PlacedGlyph &glyph : glyphs) {
        if (glyph.image->width == 0 || glyph.image->height == 0)
            continue;
        const Box box = BoxOf(glyph);
        all = first ? RECT{box.left, box.top, box.right, box.bottom}
                    : RECT{std::min<LONG>(all.left, box.left), std::min<LONG>(all.top, box.top),
                           std::max<LONG>(all.right, box.right),
                           std::max<LONG>(all.bottom, box.bottom)};
        first = false;
    }
    return all;
}

void GlyphCache::Draw(const PixelTarget &target, const std::vector<PlacedGlyph> &glyphs,
                      const TextPaint &paint) {
    const uint8_t bgr[3] = {GetBValue(paint.text), GetGValue(paint.text), GetRValue(paint.text)};
    if (AnyOverlap(glyphs)) {
        const GlyphImage sum = Sum(glyphs);
        Blend(target, sum, 0, 0, bgr);
        return;
    }
    for (const PlacedGlyph &glyph : glyphs) {
        if (glyph.image->width == 0 || glyph.image->height == 0)
            continue;
        const Box box = BoxOf(glyph);
        if (Inside(box, paint.plain) && Inside(box, target.clip))
            Copy(target, *glyph.image, glyph.x, glyph.y, paint);
        else
            Blend(target, *glyph.image, glyph.x, glyph.y, bgr);
    }
}

} // namespace platform::gdi
