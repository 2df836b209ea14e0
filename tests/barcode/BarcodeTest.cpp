#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "barcode/Code128Bitmap.h"
#include "barcode/Ean13Bitmap.h"
#include "barcode/JpegWriter.h"
#include "images/JpegDecoder.h"
#include "platform/gdi/GdiObjects.h"
#include "testing/BarcodeScan.h"
#include "testing/TestSupport.h"

namespace {

// The rendered bitmap as a picture.
bool ToPicture(HBITMAP bitmap, Picture &picture) {
    return bitmap && picture.LoadFromBitmap(bitmap);
}

bool Dark(const Picture &picture, int x, int y) {
    const auto *pixels = reinterpret_cast<const DWORD *>(picture.Pixels());
    return (pixels[picture.IndexOf(x, y)] & 0xFF) < 128;
}

std::string ScanPicture(const Picture &picture) {
    std::vector<unsigned char> grey(static_cast<size_t>(picture.Width() * picture.Height()));
    const auto *pixels = reinterpret_cast<const DWORD *>(picture.Pixels());
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            grey[static_cast<size_t>(y * picture.Width() + x)] =
                static_cast<unsigned char>((pixels[picture.IndexOf(x, y)] >> 8) & 0xFF);
    return testing_support::ScanGrey(grey, picture.Width(), picture.Height());
}

} // namespace

TEST(Ean13, DrawsThirteenDigitsAt123By40) {
    Ean13Bitmap renderer;
    Picture picture;
    ASSERT_TRUE(ToPicture(renderer.Render("6901234567892"), picture));
    EXPECT_EQ(picture.Width(), 123);
    EXPECT_EQ(picture.Height(), 40);
    EXPECT_GT(renderer.CaptionHeight(), 8);
    // Guards at 14 and 16, 60 and 62, 106 and 108; quiet zones around.
    for (int x : {14, 16, 60, 62, 106, 108})
        EXPECT_TRUE(Dark(picture, x, 10)) << x;
    for (int x : {13, 15, 61, 107, 109})
        EXPECT_FALSE(Dark(picture, x, 10)) << x;
    EXPECT_FALSE(Dark(picture, 14, 3)); // bars start at y = 4
    EXPECT_EQ(ScanPicture(picture), "6901234567892");
}

TEST(Ean13, IgnoresWhatFollowsAndRefusesShortOrNonDigitTexts) {
    Ean13Bitmap renderer;
    Picture first, second;
    ASSERT_TRUE(ToPicture(renderer.Render("6901234567892"), first));
    ASSERT_TRUE(ToPicture(renderer.Render("6901234567892abc"), second));
    EXPECT_EQ(memcmp(first.Pixels(), second.Pixels(), 123 * 40 * 4), 0);
    EXPECT_EQ(renderer.Render("690123456789"), nullptr);
    EXPECT_EQ(renderer.Render("69012345A7892"), nullptr);
    EXPECT_EQ(renderer.Render(""), nullptr);
    EXPECT_EQ(renderer.Render(nullptr), nullptr);
}

TEST(Ean13, RenderingAgainReplacesTheBitmap) {
    Ean13Bitmap renderer;
    HBITMAP first = renderer.Render("6901234567892");
    HBITMAP second = renderer.Render("4006381333931");
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(GetObjectType(second), static_cast<DWORD>(OBJ_BITMAP));
    (void)first;
}

TEST(Code128, PairsOfDigitsInSetC) {
    Code128Bitmap renderer;
    Picture picture;
    ASSERT_TRUE(ToPicture(renderer.Render("1234"), picture));
    EXPECT_EQ(picture.Width(), 114); // 2 x (11 x 2 + 35)
    EXPECT_EQ(picture.Height(), 100);
    EXPECT_TRUE(Dark(picture, 0, 10)); // Start C's first bar: x 1 with a 2-pixel pen
    EXPECT_TRUE(Dark(picture, 1, 10));
    EXPECT_EQ(ScanPicture(picture), "1234"); // the check value (82) agrees
    ASSERT_TRUE(ToPicture(renderer.Render("69012345678901"), picture));
    EXPECT_EQ(ScanPicture(picture), "69012345678901");
}

TEST(Code128, AnOddLastDigitGoesOutInSetB) {
    Code128Bitmap renderer;
    Picture picture;
    ASSERT_TRUE(ToPicture(renderer.Render("123"), picture));
    EXPECT_EQ(picture.Width(), 114 + 22);   // one symbol character more
    EXPECT_EQ(ScanPicture(picture), "123"); // not "1203"
    ASSERT_TRUE(ToPicture(renderer.Render("7"), picture));
    EXPECT_EQ(ScanPicture(picture), "7");
}

TEST(Code128, RefusesEmptyAndNonDigitTexts) {
    Code128Bitmap renderer;
    EXPECT_EQ(renderer.Render(""), nullptr);
    EXPECT_EQ(renderer.Render("AB"), nullptr);
    EXPECT_EQ(renderer.Render("-1"), nullptr);
    EXPECT_EQ(renderer.Render("12 34"), nullptr);
}

TEST(LinearBarcodes, CaptionsAreCairosTextAndRenderingsRepeatExactly) {
    // The captions come from the fonts' glyph caches: the same pixels as
    // cairo draws them, and a rendering again (caches and surfaces kept)
    // gives the same picture.
    auto pixels = [](BarcodeBitmap &renderer, const char *text, bool throughCairo) {
        platform::gdi::DrawTextThroughCairo(throughCairo);
        Picture picture;
        const bool made = ToPicture(renderer.Render(text), picture);
        platform::gdi::DrawTextThroughCairo(false);
        EXPECT_TRUE(made) << text;
        const auto *data = reinterpret_cast<const DWORD *>(picture.Pixels());
        return made ? std::vector<DWORD>(data, data + picture.Width() * picture.Height())
                    : std::vector<DWORD>{};
    };
    Ean13Bitmap ean;
    Code128Bitmap code;
    for (int round = 0; round < 2; ++round) {
        for (const char *text : {"6901234567892", "4006381333931", "0000000000000"})
            EXPECT_EQ(pixels(ean, text, false), pixels(ean, text, true)) << text;
        for (const char *text : {"20261208123456", "123", "99999999999999999999"})
            EXPECT_EQ(pixels(code, text, false), pixels(code, text, true)) << text;
    }
    const std::vector<DWORD> first = pixels(code, "20261208123456", false);
    pixels(code, "7", false);
    EXPECT_EQ(pixels(code, "20261208123456", false), first);
}

TEST(JpegWriter, WritesABaselineFileOfThePicture) {
    Code128Bitmap renderer;
    Picture picture;
    ASSERT_TRUE(ToPicture(renderer.Render("2026"), picture));
    std::string dir = testing_support::MakeTempDir("jpeg-");
    std::string path = dir + "/code.jpg";
    ASSERT_EQ(SaveBarcodeJpeg(path.c_str(), &picture, 80), 1);
    int width = 0, height = 0;
    unsigned char *rgb = ReadJpegFile(path.c_str(), &width, &height);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(width, picture.Width());
    EXPECT_EQ(height, 100);
    std::vector<unsigned char> grey(static_cast<size_t>(width * height));
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = rgb[i * 3 + 1];
    free(rgb);
    EXPECT_EQ(testing_support::ScanGrey(grey, width, height), "2026");
    EXPECT_EQ(SaveBarcodeJpeg("", &picture, 80), 0);
    EXPECT_EQ(SaveBarcodeJpeg(path.c_str(), nullptr, 80), 0);
    EXPECT_EQ(WriteJpegFile(path.c_str(), nullptr, 1, 1, 80), 0);
    EXPECT_EQ(WriteJpegFile((dir + "/no/such/dir.jpg").c_str(), grey.data(), 1, 1, 80), 0);
    testing_support::RemoveTree(dir);
}
