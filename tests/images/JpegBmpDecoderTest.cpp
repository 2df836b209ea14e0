#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "images/BmpDecoder.h"
#include "images/JpegDecoder.h"
#include "testing/TestSupport.h"

using namespace image_testing;

namespace {

// Writes a JPEG of the given colour space with libjpeg: grey, RGB or CMYK.
void WriteJpeg(const std::string &path, J_COLOR_SPACE space, int components, int width,
               int height) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    FILE *file = fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width * components));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * components; ++x)
            row[static_cast<size_t>(x)] = static_cast<JSAMPLE>((x * 7 + y * 13) & 0xFF);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    fclose(file);
    jpeg_destroy_compress(&info);
}

// Decodes with libjpeg directly: the reference.
std::vector<unsigned char> Reference(const std::string &path, int &components, int &width,
                                     int &height) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    FILE *file = fopen(path.c_str(), "rb");
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    components = info.output_components;
    std::vector<unsigned char> pixels(static_cast<size_t>(width * height * components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &pixels[static_cast<size_t>(info.output_scanline) *
                               static_cast<size_t>(width * components)];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    fclose(file);
    return pixels;
}

int LoadJpeg(Picture &picture, const std::string &path) {
    return JpegDecoder(path.c_str(), &picture, DecoderMode::kProbeFile, nullptr, 0) &&
           JpegDecoder(path.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0);
}

} // namespace

TEST(JpegDecoder, ColourAndGreyMatchLibjpegPixelForPixel) {
    SKIP_WITHOUT_CORPUS("libjpeg-turbo-2.1.5-testimages");
    std::string dir = testing_support::MakeTempDir("jpeg-");
    WriteJpeg(dir + "/grey.jpg", JCS_GRAYSCALE, 1, 37, 23);
    for (const std::string &path :
         {Corpus("libjpeg-turbo-2.1.5-testimages/testorig.jpg"),
          Corpus("libjpeg-turbo-2.1.5-testimages/testimgint.jpg"), dir + "/grey.jpg"}) {
        int components = 0, width = 0, height = 0;
        std::vector<unsigned char> expected = Reference(path, components, width, height);
        Picture picture;
        ASSERT_TRUE(LoadJpeg(picture, path)) << path;
        ASSERT_EQ(picture.Width(), width);
        ASSERT_EQ(picture.Height(), height);
        int mismatches = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char *e =
                    &expected[static_cast<size_t>((y * width + x) * components)];
                const DWORD want = components == 1
                                       ? e[0] * 0x010101u
                                       : (static_cast<DWORD>(e[0]) << 16) | (e[1] << 8) | e[2];
                mismatches += RgbAt(picture, x, y) != want;
            }
        }
        EXPECT_EQ(mismatches, 0) << path;
    }
    testing_support::RemoveTree(dir);
}

TEST(JpegDecoder, CmykBecomesRgb) {
    std::string dir = testing_support::MakeTempDir("jpeg-");
    WriteJpeg(dir + "/cmyk.jpg", JCS_CMYK, 4, 16, 16);
    Picture picture;
    ASSERT_TRUE(LoadJpeg(picture, dir + "/cmyk.jpg"));
    EXPECT_EQ(picture.Width(), 16);
    testing_support::RemoveTree(dir);
}

TEST(JpegDecoder, OtherFilesFailCleanlyOrLoad) {
    SKIP_WITHOUT_CORPUS("libjpeg-turbo-2.1.5-testimages");
    Picture picture;
    // 12-bit samples: this libjpeg reads 8-bit ones only.
    EXPECT_FALSE(LoadJpeg(picture, Corpus("libjpeg-turbo-2.1.5-testimages/testorig12.jpg")));
    LoadJpeg(picture,
             Corpus("libjpeg-turbo-2.1.5-testimages/testimgari.jpg")); // either way, cleanly
    EXPECT_FALSE(LoadJpeg(picture, Corpus("pngsuite-full/png/basn2c08.png")));
    EXPECT_FALSE(LoadJpeg(picture, "/nonexistent.jpg"));
    const std::string jpeg =
        testing_support::ReadFile(Corpus("libjpeg-turbo-2.1.5-testimages/testorig.jpg"));
    EXPECT_EQ(JpegDecoder(nullptr, &picture, DecoderMode::kLoadMemory, jpeg.data(),
                          static_cast<unsigned>(jpeg.size())),
              0); // no memory source
    int width = -1, height = -1;
    EXPECT_EQ(ReadJpegFile("/nonexistent.jpg", &width, &height), nullptr);
    EXPECT_EQ(width, 0);
}

TEST(BmpDecoder, SuiteBitmapsMatchTheirPngs) {
    SKIP_WITHOUT_CORPUS("pngsuite-full");
    int compared = 0;
    for (const char *name : {"basn2c08", "basn3p08", "basn0g08", "basn3p04", "basn3p01", "basn6a08",
                             "basi2c08", "basn0g01"}) {
        const std::string bmp = Corpus(std::string("pngsuite-full/bmp/") + name + ".bmp");
        Picture picture;
        ASSERT_EQ(BmpDecoder(bmp.c_str(), &picture, DecoderMode::kProbeFile, nullptr, 0), 1)
            << name;
        ASSERT_EQ(BmpDecoder(bmp.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0), 1) << name;
        std::vector<int> rgba = JsonNumbers(
            testing_support::ReadFile(Corpus(std::string("pngsuite-full/json/") + name + ".json")));
        ASSERT_EQ(rgba.size(), static_cast<size_t>(picture.Width() * picture.Height() * 4)) << name;
        int mismatches = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                const int *e = &rgba[static_cast<size_t>((y * picture.Width() + x) * 4)];
                if (e[3] == 0)
                    continue; // transparent in the PNG: its colour is the converter's choice
                const DWORD want = (static_cast<DWORD>(e[0]) << 16) | (e[1] << 8) | e[2];
                mismatches += RgbAt(picture, x, y) != want;
            }
        }
        EXPECT_EQ(mismatches, 0) << name;
        ++compared;
    }
    EXPECT_EQ(compared, 8);
}

TEST(BmpDecoder, TopDownBitmapsUseTheirAbsoluteHeight) {
    // A 2 x 2, 24-bit, top-down bitmap: first row red, blue; second green, white.
    std::string bmp = "BM" + std::string(12, '\0');
    bmp[10] = 54;
    const unsigned char info[40] = {40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 24, 0};
    bmp += std::string(reinterpret_cast<const char *>(info), 40);
    bmp += std::string("\x00\x00\xFF\xFF\x00\x00\x00\x00", 8);
    bmp += std::string("\x00\xFF\x00\xFF\xFF\xFF\x00\x00", 8);
    std::string dir = testing_support::MakeTempDir("bmp-");
    testing_support::WriteFile(dir + "/t.bmp", bmp);
    Picture picture;
    ASSERT_EQ(BmpDecoder((dir + "/t.bmp").c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0),
              1);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_EQ(RgbAt(picture, 0, 0), 0xFF0000u);
    EXPECT_EQ(RgbAt(picture, 1, 0), 0x0000FFu);
    EXPECT_EQ(RgbAt(picture, 0, 1), 0x00FF00u);
    EXPECT_EQ(RgbAt(picture, 1, 1), 0xFFFFFFu);
    testing_support::WriteFile(dir + "/rle.bmp", std::string(bmp).replace(14 + 16, 1, "\x01"));
    EXPECT_EQ(BmpDecoder((dir + "/rle.bmp").c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0),
              0);
    testing_support::RemoveTree(dir);
}
