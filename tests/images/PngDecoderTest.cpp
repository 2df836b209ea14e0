#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "images/PngDecoder.h"
#include "testing/TestSupport.h"

using namespace image_testing;

namespace {

using testing_support::ListFiles;

int LoadPng(Picture &picture, const std::string &path) {
    return PngDecoder(path.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0);
}

} // namespace

TEST(PngSuite, ValidImagesDecodeToTheExpectedPixels) {
    SKIP_WITHOUT_CORPUS("pngsuite-full");
    int compared = 0;
    for (const std::string &name : ListFiles(Corpus("pngsuite-full/png"), ".png")) {
        if (name[0] == 'x')
            continue; // the corrupt ones: next test
        const std::string base = name.substr(0, name.size() - 4);
        Picture picture;
        ASSERT_EQ(LoadPng(picture, Corpus("pngsuite-full/png/" + name)), 1) << name;
        std::string json =
            testing_support::ReadFile(Corpus("pngsuite-full/json/" + base + "_to8.json"));
        bool sixteen = !json.empty();
        if (!sixteen)
            json = testing_support::ReadFile(Corpus("pngsuite-full/json/" + base + ".json"));
        std::vector<int> rgba = JsonNumbers(json);
        if (*std::max_element(rgba.begin(), rgba.end()) > 255) {
            // Samples of 16 bits, for images the suite has no 8-bit copy of.
            for (int &v : rgba)
                v >>= 8;
            sixteen = true;
        }
        ASSERT_EQ(rgba.size(), static_cast<size_t>(picture.Width() * picture.Height() * 4)) << name;
        int worst = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                const int *e = &rgba[static_cast<size_t>((y * picture.Width() + x) * 4)];
                const DWORD rgb = RgbAt(picture, x, y);
                const int got[3] = {static_cast<int>(rgb >> 16),
                                    static_cast<int>((rgb >> 8) & 0xFF),
                                    static_cast<int>(rgb & 0xFF)};
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(got[c] - e[c]));
                // Images without alpha keep 0 in the fourth byte.
                const int alpha = AlphaAt(picture, x, y);
                if (!(alpha == 0 && e[3] == 255))
                    worst = std::max(worst, std::abs(alpha - e[3]));
            }
        }
        // 16-bit samples keep their high byte; the suite's 8-bit copies round.
        EXPECT_LE(worst, sixteen ? 1 : 0) << name;
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST(PngSuite, CorruptImagesFailCleanly) {
    SKIP_WITHOUT_CORPUS("pngsuite-full");
    SKIP_WITHOUT_CORPUS("libpng-1.6.39-crashers");
    int refused = 0;
    for (const std::string &name : ListFiles(Corpus("pngsuite-full/png"), ".png")) {
        if (name[0] != 'x')
            continue;
        Picture picture;
        EXPECT_EQ(LoadPng(picture, Corpus("pngsuite-full/png/" + name)), 0) << name;
        ++refused;
    }
    EXPECT_GE(refused, 14);
    for (const std::string &name : ListFiles(Corpus("libpng-1.6.39-crashers"), ".png")) {
        Picture picture;
        LoadPng(picture, Corpus("libpng-1.6.39-crashers/" + name)); // any result, no crash
    }
}

TEST(PngDecoder, MemoryThatEndsEarlyFailsWithReadError) {
    std::string png = testing_support::ReadFile(testing_support::Fixture("pictures/basn2c08.png"));
    Picture picture;
    EXPECT_EQ(PngDecoder(nullptr, &picture, DecoderMode::kProbeMemory, png.data(), 8), 1);
    EXPECT_EQ(PngDecoder(nullptr, &picture, DecoderMode::kLoadMemory, png.data(),
                         static_cast<unsigned>(png.size() / 2)),
              0);
    EXPECT_EQ(PngDecoder(nullptr, &picture, DecoderMode::kLoadMemory, png.data(),
                         static_cast<unsigned>(png.size())),
              1);
    EXPECT_EQ(picture.Width(), 32);
}

TEST(PngDecoder, PaletteWithTransparencyAndLowDepthGrey) {
    SKIP_WITHOUT_CORPUS("pngsuite-full");
    Picture picture;
    ASSERT_EQ(LoadPng(picture, Corpus("pngsuite-full/png/tbbn3p08.png")), 1); // palette + tRNS
    bool someTransparent = false;
    for (int x = 0; x < picture.Width(); ++x)
        someTransparent = someTransparent || AlphaAt(picture, x, 0) == 0;
    EXPECT_TRUE(someTransparent);
    ASSERT_EQ(LoadPng(picture, Corpus("pngsuite-full/png/basn0g02.png")), 1); // 2-bit grey
    const DWORD p = RgbAt(picture, 0, 0);
    EXPECT_EQ(p & 0xFF, (p >> 8) & 0xFF);
    EXPECT_EQ(p & 0xFF, p >> 16);
}

TEST(PngDecoder, AHeaderOfFourBillionSquaredIsRefusedWithoutOverflow) {
    // Width and height 0xFFFFFFFF: refused from the header (an empty
    // picture), their product computed without overflowing.
    const std::string png("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\xff\xff\xff\xff\xff\xff\xff\xff"
                          "\xff\xff\x00\x00\x00w\xa3\xc0\x01\x82\xb1\xf9^\x0f@\xcfK\xfe"
                          "\x00\x00\x00IEND\xae\x42`\xf3\x82",
                          54);
    const std::string dir = testing_support::MakeTempDir("png-");
    testing_support::WriteFile(dir + "/huge.png", png);
    Picture picture;
    EXPECT_EQ(LoadPng(picture, dir + "/huge.png"), 1);
    EXPECT_EQ(picture.Pixels() ? picture.Width() * picture.Height() : 0, 0);
    testing_support::RemoveTree(dir);
}
