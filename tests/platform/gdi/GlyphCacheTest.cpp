#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "Canvas.h"
#include "platform/gdi/GdiObjects.h"
#include "platform/gdi/GlyphCache.h"
#include "platform/win32.h"
#include "testing/TestSupport.h"

using platform::gdi::GlyphCache;
using platform::gdi::GlyphImage;
using platform::gdi::PixelTarget;
using platform::gdi::PlacedGlyph;
using platform::gdi::TextPaint;

namespace {

// A one-channel glyph image of the given coverage rows.
GlyphImage Image(int left, int top, int width, std::vector<uint8_t> coverage) {
    GlyphImage image;
    image.left = left;
    image.top = top;
    image.width = width;
    image.height = static_cast<int>(coverage.size()) / width;
    image.coverage = std::move(coverage);
    return image;
}

// 32-bit B G R x pixels, all one colour.
struct Pixels {
    Pixels(int width, int height, COLORREF color) : width(width), data(width * height * 4) {
        for (size_t i = 0; i < data.size(); i += 4) {
            data[i] = GetBValue(color);
            data[i + 1] = GetGValue(color);
            data[i + 2] = GetRValue(color);
        }
    }
    PixelTarget Target(RECT clip) { return {data.data(), static_cast<size_t>(width) * 4, clip}; }
    COLORREF At(int x, int y) const {
        const size_t at = static_cast<size_t>((y * width + x) * 4);
        return RGB(data[at + 2], data[at + 1], data[at]);
    }
    int width;
    std::vector<unsigned char> data;
};

// How text is put on a canvas for the comparison with cairo.
struct TextCase {
    const char *face;
    int height;
    int weight;
    bool italic;
    std::string text;
    int mode;            // OPAQUE or TRANSPARENT
    COLORREF color;      // text
    COLORREF background; // the context's background colour
    bool striped;        // the canvas under the text is striped, not plain white
    UINT format;         // DrawTextA's format; 0: TextOutA at the rectangle's corner
    RECT box;
};

// The canvas after the case is drawn, from the glyph cache or through cairo.
std::vector<DWORD> Draw(const TextCase &c, bool throughCairo) {
    Canvas canvas(160, 60);
    if (c.striped) {
        for (int x = 0; x < 160; x += 6)
            canvas.Fill({x, 0, x + 3, 60}, RGB(40 + x, 200 - x, 90));
    }
    LOGFONTA lf{};
    lf.lfHeight = c.height;
    lf.lfWeight = c.weight;
    lf.lfItalic = c.italic;
    strcpy(lf.lfFaceName, testing_support::Ansi(c.face).c_str());
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    SetBkMode(canvas.dc(), c.mode);
    SetTextColor(canvas.dc(), c.color);
    SetBkColor(canvas.dc(), c.background);
    const std::string text = testing_support::Ansi(c.text);
    platform::gdi::DrawTextThroughCairo(throughCairo);
    RECT box = c.box;
    if (c.format)
        DrawTextA(canvas.dc(), text.c_str(), static_cast<int>(text.size()), &box, c.format);
    else
        TextOutA(canvas.dc(), box.left, box.top, text.c_str(), static_cast<int>(text.size()));
    platform::gdi::DrawTextThroughCairo(false);
    std::vector<DWORD> pixels = canvas.Read();
    SelectObject(canvas.dc(), old);
    DeleteObject(font);
    return pixels;
}

// The largest difference of one colour channel between two pictures.
int LargestDifference(const std::vector<DWORD> &a, const std::vector<DWORD> &b) {
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        for (int shift : {0, 8, 16})
            largest = std::max(largest, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                                 static_cast<int>((b[i] >> shift) & 0xFF)));
    }
    return largest;
}

size_t Differing(const std::vector<DWORD> &a, const std::vector<DWORD> &b) {
    size_t count = 0;
    for (size_t i = 0; i < a.size(); ++i)
        count += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF);
    return count;
}

} // namespace

TEST(GlyphCache, DecodesUtf8AndRefusesMalformedSequences) {
    auto decode = [](std::string_view text, size_t &at) {
        uint32_t code = 0xdeadbeef;
        return GlyphCache::NextCodePoint(text, at, code) ? code : 0xFFFFFFFFu;
    };
    const std::string good = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
    size_t at = 0;
    EXPECT_EQ(decode(good, at), 0x41u);
    EXPECT_EQ(decode(good, at), 0xE9u);
    EXPECT_EQ(decode(good, at), 0x4E2Du);
    EXPECT_EQ(decode(good, at), 0x1F600u);
    EXPECT_EQ(at, good.size());
    for (const char *bad : {"\xC0\x80", "\x80", "\xE4\xB8", "\xED\xA0\x80", "\xEF\xBF\xBE",
                            "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"}) {
        at = 0;
        EXPECT_EQ(decode(bad, at), 0xFFFFFFFFu) << bad;
        EXPECT_EQ(at, 0u); // nothing consumed
    }
}

TEST(GlyphCache, CropsAGlyphToItsInkAndTellsSubpixelCoverage) {
    // A 6 x 4 white-on-black rendering, origin at (2, 3), ink at (3..4, 1..2).
    std::vector<unsigned char> pixels(6 * 4 * 4, 0);
    auto set = [&](int x, int y, unsigned char b, unsigned char g, unsigned char r) {
        unsigned char *p = &pixels[static_cast<size_t>((y * 6 + x) * 4)];
        p[0] = b, p[1] = g, p[2] = r, p[3] = 0xEE; // the unused byte is ignored
    };
    set(3, 1, 255, 255, 255);
    set(4, 2, 10, 10, 10);
    GlyphImage even = GlyphCache::FromWhiteOnBlack(pixels.data(), 24, 6, 4, 2, 3);
    EXPECT_EQ(even.left, 1);
    EXPECT_EQ(even.top, -2);
    EXPECT_EQ(even.width, 2);
    EXPECT_EQ(even.height, 2);
    EXPECT_EQ(even.channels, 1);
    EXPECT_EQ(even.coverage, (std::vector<uint8_t>{255, 0, 0, 10}));
    set(4, 2, 10, 20, 30); // a subpixel font's coverage: one per channel
    GlyphImage split = GlyphCache::FromWhiteOnBlack(pixels.data(), 24, 6, 4, 2, 3);
    EXPECT_EQ(split.channels, 3);
    EXPECT_EQ(split.coverage.size(), 12u);
    EXPECT_EQ(split.coverage[9], 10);
    EXPECT_EQ(split.coverage[11], 30);
    std::vector<unsigned char> dark(6 * 4 * 4, 0);
    EXPECT_EQ(GlyphCache::FromWhiteOnBlack(dark.data(), 24, 6, 4, 2, 3).width, 0); // a space
}

TEST(GlyphCache, BlendsTheTextColourThroughTheCoverage) {
    const GlyphImage image = Image(0, 0, 4, {0, 64, 128, 255});
    Pixels white(4, 1, RGB(255, 255, 255));
    GlyphCache::Draw(white.Target({0, 0, 4, 1}), {{&image, 0, 0}},
                     {RGB(0, 0, 0), RGB(255, 255, 255), {0, 0, 0, 0}});
    EXPECT_EQ(white.At(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(white.At(1, 0), RGB(191, 191, 191));
    EXPECT_EQ(white.At(2, 0), RGB(127, 127, 127));
    EXPECT_EQ(white.At(3, 0), RGB(0, 0, 0));
    Pixels blue(4, 1, RGB(0, 0, 255));
    GlyphCache::Draw(blue.Target({0, 0, 4, 1}), {{&image, 0, 0}},
                     {RGB(255, 0, 0), RGB(0, 0, 255), {0, 0, 0, 0}});
    EXPECT_EQ(blue.At(1, 0), RGB(64, 0, 191));
    // Drawn on its plain background the glyph is copied from its tint: the
    // same pixels.
    Pixels plain(4, 1, RGB(0, 0, 255));
    GlyphCache::Draw(plain.Target({0, 0, 4, 1}), {{&image, 0, 0}},
                     {RGB(255, 0, 0), RGB(0, 0, 255), {0, 0, 4, 1}});
    EXPECT_EQ(plain.data, blue.data);
}

TEST(GlyphCache, BlendsEveryCoverageWithProductsRoundedToNearest) {
    // Cairo's compositing (pixman) takes colour x coverage / 255 and
    // pixel x (255 - coverage) / 255 each to the nearest integer.
    std::vector<uint8_t> ramp(256);
    for (int m = 0; m < 256; ++m)
        ramp[static_cast<size_t>(m)] = static_cast<uint8_t>(m);
    const GlyphImage image = Image(0, 0, 256, ramp);
    const COLORREF text = RGB(200, 30, 61), under = RGB(17, 128, 250);
    for (const RECT plain : {RECT{0, 0, 0, 0}, RECT{0, 0, 256, 1}}) {
        Pixels pixels(256, 1, under);
        GlyphCache::Draw(pixels.Target({0, 0, 256, 1}), {{&image, 0, 0}}, {text, under, plain});
        for (int m = 0; m < 256; ++m) {
            auto channel = [&](BYTE c, BYTE p) {
                return static_cast<BYTE>(std::lround(c * m / 255.0) +
                                         std::lround(p * (255 - m) / 255.0));
            };
            const COLORREF expected = RGB(channel(GetRValue(text), GetRValue(under)),
                                          channel(GetGValue(text), GetGValue(under)),
                                          channel(GetBValue(text), GetBValue(under)));
            ASSERT_EQ(pixels.At(m, 0), expected) << m;
        }
    }
}

TEST(GlyphCache, OverlappingGlyphsSumTheirCoverageBeforeBlending) {
    // Two glyphs of half coverage sharing the middle pixel: it is covered
    // once in full (as cairo masks overlapping glyphs), not twice by half.
    const GlyphImage first = Image(0, 0, 2, {128, 128});
    const GlyphImage second = Image(0, 0, 2, {128, 128});
    Pixels pixels(3, 1, RGB(255, 255, 255));
    GlyphCache::Draw(pixels.Target({0, 0, 3, 1}), {{&first, 0, 0}, {&second, 1, 0}},
                     {RGB(0, 0, 0), RGB(255, 255, 255), {0, 0, 3, 1}});
    EXPECT_EQ(pixels.At(0, 0), RGB(127, 127, 127));
    EXPECT_EQ(pixels.At(1, 0), RGB(0, 0, 0));
    EXPECT_EQ(pixels.At(2, 0), RGB(127, 127, 127));
    // Glyphs given right to left are found overlapping all the same.
    Pixels reversed(3, 1, RGB(255, 255, 255));
    GlyphCache::Draw(reversed.Target({0, 0, 3, 1}), {{&second, 1, 0}, {&first, 0, 0}},
                     {RGB(0, 0, 0), RGB(255, 255, 255), {0, 0, 0, 0}});
    EXPECT_EQ(reversed.data, pixels.data);
}

TEST(GlyphCache, DrawsOnlyInsideTheClip) {
    const GlyphImage image = Image(-1, -1, 3, {255, 255, 255, 255, 255, 255, 255, 255, 255});
    for (const RECT plain : {RECT{0, 0, 0, 0}, RECT{0, 0, 4, 4}}) {
        Pixels pixels(4, 4, RGB(255, 255, 255));
        GlyphCache::Draw(pixels.Target({1, 1, 4, 2}), {{&image, 1, 1}},
                         {RGB(0, 0, 0), RGB(255, 255, 255), plain});
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const bool inside = y == 1 && (x == 1 || x == 2);
                EXPECT_EQ(pixels.At(x, y), inside ? RGB(0, 0, 0) : RGB(255, 255, 255)) << x << y;
            }
        }
    }
}

TEST(GlyphCache, TextMatchesCairosRenderingPixelForPixel) {
    const RECT wide{0, 0, 160, 60}, narrow{20, 10, 60, 30};
    const UINT centred = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
    const std::vector<TextCase> cases = {
        // The barcodes' captions: black on opaque white.
        {"黑体", -24, 0, false, "20261208123456", OPAQUE, 0, RGB(255, 255, 255), false, centred,
         wide},
        {"宋体", -12, 0, false, "6901234567892", OPAQUE, 0, RGB(255, 255, 255), false, DT_CENTER,
         wide},
        // Colours over a background that is not the text's own.
        {"黑体",
         -20,
         FW_BOLD,
         false,
         "Ag|jy 中文",
         TRANSPARENT,
         RGB(200, 30, 60),
         0,
         true,
         0,
         {5, 8, 0, 0}},
        {"宋体", -16, 0, false, "条码 Code 128", OPAQUE, RGB(0, 0, 255), RGB(255, 255, 0), true,
         centred, wide},
        // Clipped to a rectangle smaller than the text.
        {"黑体", -24, 0, false, "20261208", OPAQUE, 0, RGB(255, 255, 255), false, centred, narrow},
        {"宋体", -18, 0, false, "WAVE 中文", TRANSPARENT, RGB(0, 120, 0), 0, true, centred, narrow},
        // Slanted glyphs that may reach into their neighbours.
        {"宋体",
         -22,
         FW_BOLD,
         true,
         "WWVAffj",
         TRANSPARENT,
         RGB(20, 20, 20),
         0,
         true,
         0,
         {2, 10, 0, 0}},
        {"黑体",
         -22,
         0,
         true,
         "WWVAffj",
         OPAQUE,
         RGB(20, 20, 20),
         RGB(250, 240, 230),
         false,
         0,
         {2, 10, 0, 0}},
        // Partly off the bitmap.
        {"黑体", -30, 0, false, "8888", OPAQUE, 0, RGB(255, 255, 255), false, 0, {-7, 45, 0, 0}},
    };
    for (const TextCase &c : cases) {
        const std::vector<DWORD> cached = Draw(c, false), cairo = Draw(c, true);
        ASSERT_EQ(cached.size(), cairo.size());
        EXPECT_LE(LargestDifference(cached, cairo), 1) << c.text;
        EXPECT_LE(Differing(cached, cairo), cached.size() / 200) << c.text;
        const std::vector<DWORD> blank = Draw({c.face, c.height, c.weight, c.italic, "", c.mode,
                                               c.color, c.background, c.striped, c.format, c.box},
                                              true);
        EXPECT_GT(Differing(cairo, blank), 20u) << c.text; // text was drawn
    }
}

TEST(GlyphCache, AFontDrawnAgainInOtherColoursTakesThem) {
    auto draw = [](bool throughCairo) {
        Canvas canvas(120, 40);
        LOGFONTA lf{};
        lf.lfHeight = -20;
        strcpy(lf.lfFaceName, testing_support::Ansi("黑体").c_str());
        HFONT font = CreateFontIndirectA(&lf);
        HGDIOBJ old = SelectObject(canvas.dc(), font);
        platform::gdi::DrawTextThroughCairo(throughCairo);
        TextOutA(canvas.dc(), 0, 0, "2468", 4);
        SetTextColor(canvas.dc(), RGB(255, 0, 0));
        TextOutA(canvas.dc(), 60, 0, "2468", 4);
        SetBkColor(canvas.dc(), RGB(0, 0, 80));
        SetTextColor(canvas.dc(), RGB(255, 255, 255));
        TextOutA(canvas.dc(), 0, 20, "8642", 4);
        platform::gdi::DrawTextThroughCairo(false);
        std::vector<DWORD> pixels = canvas.Read();
        SelectObject(canvas.dc(), old);
        DeleteObject(font);
        return pixels;
    };
    EXPECT_LE(LargestDifference(draw(false), draw(true)), 1);
}

TEST(GlyphCache, MeasuresTextAsCairoDoes) {
    HDC screen = GetDC(nullptr);
    for (const char *face : {"宋体", "黑体"}) {
        for (int height : {-12, -24, 17}) {
            LOGFONTA lf{};
            lf.lfHeight = height;
            strcpy(lf.lfFaceName, testing_support::Ansi(face).c_str());
            HFONT font = CreateFontIndirectA(&lf);
            HGDIOBJ old = SelectObject(screen, font);
            SIZE first{};
            GetTextExtentPoint32A(screen, "A", 1, &first); // the font's cache is made
            for (const char *utf8 : {"8", "20261208123456", "Ag|jy W", "中文条码 mixed", ""}) {
                const std::string text = testing_support::Ansi(utf8);
                SIZE cached{-1, -1}, cairo{-2, -2};
                const int length = static_cast<int>(text.size());
                ASSERT_TRUE(GetTextExtentPoint32A(screen, text.c_str(), length, &cached));
                platform::gdi::DrawTextThroughCairo(true);
                ASSERT_TRUE(GetTextExtentPoint32A(screen, text.c_str(), length, &cairo));
                platform::gdi::DrawTextThroughCairo(false);
                EXPECT_EQ(cached.cx, cairo.cx) << face << height << utf8;
                EXPECT_EQ(cached.cy, cairo.cy) << face << height << utf8;
            }
            SelectObject(screen, old);
            DeleteObject(font);
        }
    }
    ReleaseDC(nullptr, screen);
}
