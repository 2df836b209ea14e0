#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "images/DecoderRegistry.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"

using namespace image_testing;

TEST(DecoderRegistry, KeepsTwentyExtensionsAndOneSlotPerDecoder) {
    RegisterSystemDecoders();
    Picture picture; // puts the BMP decoder in slot 0
    EXPECT_NE(DecoderRegistry::At(0), nullptr);
    EXPECT_EQ(DecoderRegistry::At(1), GifDecoder);
    EXPECT_EQ(DecoderRegistry::At(3), JpegDecoder);
    EXPECT_EQ(DecoderRegistry::At(4), nullptr); // "jpeg" added no second slot
    EXPECT_STREQ(DecoderRegistry::Extension(3), "jpeg");
    EXPECT_TRUE(RegisterDecoder("longextension", nullptr));
    EXPECT_STREQ(DecoderRegistry::Extension(DecoderRegistry::ExtensionCount() - 1), "longex");
    EXPECT_FALSE(RegisterDecoder("", nullptr));
    EXPECT_FALSE(RegisterDecoder(nullptr, nullptr));
    for (int i = DecoderRegistry::ExtensionCount(); i < 20; ++i)
        EXPECT_TRUE(RegisterDecoder(("x" + std::to_string(i)).c_str(), nullptr));
    EXPECT_FALSE(RegisterDecoder("x21", nullptr)); // the 21st
}

TEST(Picture, CreateReusesItsBlockAndZeroesIt) {
    Picture picture;
    ASSERT_TRUE(picture.Create(4, 4));
    picture.FillAll(1, 2, 3);
    const BYTE *block = picture.Pixels();
    ASSERT_TRUE(picture.Create(2, 3));
    EXPECT_EQ(picture.Pixels(), block);
    for (int i = 0; i < 2 * 3 * 4; ++i)
        EXPECT_EQ(picture.Pixels()[i], 0) << i;
    EXPECT_FALSE(picture.Create(20000, 20000)); // over 100 megapixels
    EXPECT_EQ(picture.Pixels(), nullptr);
    EXPECT_FALSE(picture.Draw(nullptr, TRUE, DDF_HALFTONE)); // no pixels: nothing drawn
}

TEST(Picture, RectanglesAreClippedAndSized) {
    Picture picture;
    ASSERT_TRUE(picture.Create(10, 8));
    picture.SetSourceRect(-2, 3, 50, 0);
    EXPECT_EQ(picture.SourceRect().left, 0);
    EXPECT_EQ(picture.SourceRect().right, 10);
    EXPECT_EQ(picture.SourceRect().top, 3);
    EXPECT_EQ(picture.SourceRect().bottom, 8);
    picture.SetDestRect(5, 6, 0, -5);
    EXPECT_EQ(picture.DestRect().right, 15); // natural width
    EXPECT_EQ(picture.DestRect().bottom, 6); // negative: nothing
    EXPECT_TRUE(picture.FillRect(0x00FF00, 8, 6, 5, 5));
    EXPECT_EQ(RgbAt(picture, 9, 7), 0x00FF00u);
    EXPECT_EQ(RgbAt(picture, 7, 7), 0u);
    EXPECT_FALSE(picture.FillRect(0x00FF00, 20, 20, 5, 5));
}

TEST(Picture, DrawsOntoARasterContext) {
    // A 2 x 2 picture: top row red, green; bottom row blue, white.
    const DWORD pixels[4] = {0x0000FF, 0xFFFFFF, 0xFF0000, 0x00FF00}; // bottom row first
    Picture picture;
    ASSERT_TRUE(picture.LoadFromPixels(pixels, 2, 2));
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 8, 8);
    HGDIOBJ old = SelectObject(dc, bitmap);
    picture.SetDestRect(1, 1, 4, 4); // enlarged: pixels replicated
    picture.Draw(dc, TRUE, DDF_HALFTONE);
    SelectObject(dc, old);
    Picture back;
    ASSERT_TRUE(back.LoadFromBitmap(bitmap));
    EXPECT_EQ(RgbAt(back, 1, 1), 0xFF0000u);
    EXPECT_EQ(RgbAt(back, 2, 2), 0xFF0000u);
    EXPECT_EQ(RgbAt(back, 3, 1), 0x00FF00u);
    EXPECT_EQ(RgbAt(back, 1, 4), 0x0000FFu);
    EXPECT_EQ(RgbAt(back, 4, 4), 0xFFFFFFu);
    EXPECT_EQ(RgbAt(back, 5, 5), 0u); // outside the destination
    // Shrunk to one pixel: the average of all four.
    SelectObject(dc, bitmap);
    picture.SetDestRect(6, 6, 1, 1);
    picture.Draw(dc, TRUE, DDF_HALFTONE);
    SelectObject(dc, old);
    back.LoadFromBitmap(bitmap);
    EXPECT_EQ(RgbAt(back, 6, 6), 0x808080u); // each channel (255 + 255) / 4, rounded
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

TEST(Picture, LoadingAskTheDecodersByContent) {
    RegisterSystemDecoders();
    Picture picture;
    EXPECT_TRUE(picture.LoadFromFile(testing_support::Fixture("pictures/basn2c08.png").c_str()));
    EXPECT_NE(picture.Decoder(), nullptr);
    EXPECT_FALSE(picture.LoadFromFile("/nonexistent"));
    EXPECT_FALSE(picture.LoadFromBitmap(nullptr));
    EXPECT_FALSE(picture.LoadFromPixels(nullptr, 1, 1));
}
