#include <fstream>
#include <memory>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "ImageTestSupport.h"
#include "images/GifDecoder.h"
#include "testing/TestSupport.h"

using namespace image_testing;

namespace {

constexpr DWORD kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// Loads GIF bytes through a file, as pictures are loaded.
bool LoadGif(Picture &picture, const std::string &bytes) {
    std::string dir = testing_support::MakeTempDir("gif-");
    testing_support::WriteFile(dir + "/picture.gif", bytes);
    bool ok = GifDecoder((dir + "/picture.gif").c_str(), &picture, DecoderMode::kLoadFile, nullptr,
                         0) != 0;
    testing_support::RemoveTree(dir);
    return ok;
}

bool LoadGifFromMemory(Picture &picture, const std::string &bytes) {
    return GifDecoder(nullptr, &picture, DecoderMode::kLoadMemory, bytes.data(),
                      static_cast<unsigned>(bytes.size())) != 0;
}

// Four pixels of index 1 (red): clear, 1, 6 (the next free code), 1, end.
const std::string kRunWithClear("\x02\x02\x8C\x53\x00", 5);
// The same without the leading clear code.
const std::string kRunWithoutClear("\x02\x02\x71\x0A\x00", 5);
// Three rows, interlaced: the data gives rows 0, 2, 1 as indices 1, 2, 3.
const std::string kThreeInterlacedRows("\x02\x02\x8C\x56\x00", 5);

} // namespace

TEST(GifDecoder, ProbesTheSignatureOnly) {
    Picture picture;
    const std::string gif87 = "GIF87a" + std::string(6, '\0');
    const std::string odd = "GIF8?a" + std::string(6, '\0');
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kProbeMemory, gif87.data(), 12), 1);
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kProbeMemory, odd.data(), 12), 1);
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kProbeMemory, "GIF89b      ", 12), 0);
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kProbeMemory, "GIF", 3), 0);
    char extension[8] = {};
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kQueryExtension, extension, 0), 1);
    EXPECT_STREQ(extension, "gif");
    EXPECT_EQ(GifDecoder(nullptr, &picture, DecoderMode::kQueryExtension, nullptr, 0), 0);
}

TEST(GifDecoder, TheNextFreeCodeIsThePreviousStringAndItsFirstByte) {
    for (const std::string &lzw : {kRunWithClear, kRunWithoutClear}) {
        Picture picture;
        ASSERT_TRUE(LoadGif(picture, MakeGif(4, 1, ImageBlock(0, 0, 4, 1, lzw))));
        ASSERT_EQ(picture.Width(), 4);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(RgbAt(picture, x, 0), kRed) << x;
    }
}

TEST(GifDecoder, BothSignaturesLoad) {
    std::string gif = MakeGif(4, 1, ImageBlock(0, 0, 4, 1, kRunWithClear));
    gif[4] = '7';
    Picture picture;
    EXPECT_TRUE(LoadGifFromMemory(picture, gif));
    EXPECT_EQ(RgbAt(picture, 3, 0), kRed);
}

TEST(GifDecoder, ThreeInterlacedRowsLandInOrder) {
    Picture picture;
    ASSERT_TRUE(
        LoadGif(picture, MakeGif(1, 3, ImageBlock(0, 0, 1, 3, kThreeInterlacedRows, true))));
    EXPECT_EQ(RgbAt(picture, 0, 0), kRed);
    EXPECT_EQ(RgbAt(picture, 0, 1), kBlue);
    EXPECT_EQ(RgbAt(picture, 0, 2), kGreen);
}

TEST(GifDecoder, AnImageInsideALargerScreenLandsAtItsPlace) {
    Picture picture;
    ASSERT_TRUE(LoadGif(picture, MakeGif(20, 30, ImageBlock(10, 20, 4, 1, kRunWithClear), 3)));
    EXPECT_EQ(RgbAt(picture, 10, 20), kRed);
    EXPECT_EQ(RgbAt(picture, 13, 20), kRed);
    EXPECT_EQ(RgbAt(picture, 9, 20), kBlue); // the background colour
    EXPECT_EQ(RgbAt(picture, 14, 20), kBlue);
    EXPECT_EQ(RgbAt(picture, 0, 0), kBlue);
}

TEST(GifDecoder, AFirstDelayShowsTheFirstImageAndStartsTheAnimation) {
    const std::string control("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);
    Picture picture;
    // The first image covers the left half of a green screen.
    ASSERT_TRUE(LoadGif(picture, MakeGif(8, 1,
                                         control + ImageBlock(0, 0, 4, 1, kRunWithClear) + control +
                                             ImageBlock(0, 0, 4, 1, kRunWithClear),
                                         2)));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(RgbAt(picture, x, 0), kRed) << x;
    for (int x = 4; x < 8; ++x)
        EXPECT_EQ(RgbAt(picture, x, 0), kGreen) << x;
    // A first image whose every pixel is its transparent index shows the
    // screen behind it.
    const std::string clear("\x21\xF9\x04\x01\x0A\x00\x01\x00", 8);
    Picture see;
    ASSERT_TRUE(LoadGif(see, MakeGif(4, 1,
                                     clear + ImageBlock(0, 0, 4, 1, kRunWithClear) + control +
                                         ImageBlock(0, 0, 4, 1, kRunWithClear),
                                     2)));
    EXPECT_EQ(RgbAt(see, 0, 0), kGreen);
    ASSERT_NE(picture.FirstFrame(), nullptr);
    EXPECT_EQ(picture.FirstFrame()->next->next, picture.FirstFrame()); // a closed ring of two
    EXPECT_EQ(picture.FirstFrame()->delay, 10);
    ASSERT_NE(picture.Animation()->thread, nullptr);
    EXPECT_TRUE(picture.Animation()->thread->Running());
    DWORD start = GetTickCount();
    picture.Clear(); // stops the thread
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(picture.FirstFrame(), nullptr);
}

TEST(GifDecoder, MalformedImagesAreSkippedAndDecodingGoesOn) {
    // An index beyond a 4-entry table: codes clear, 3... with a 3-bit minimum.
    const std::string beyond("\x03\x02\x08\x09\x00", 5); // clear(8)=0x08, 8 then end
    const std::string tooWide("\x0C\x01\x00\x00", 4);    // minimum code size 12
    Picture picture;
    ASSERT_TRUE(LoadGif(
        picture,
        MakeGif(4, 2, ImageBlock(0, 0, 4, 1, tooWide) + ImageBlock(0, 1, 4, 1, kRunWithClear), 3)));
    EXPECT_EQ(RgbAt(picture, 0, 0), kBlue); // the first image was skipped
    EXPECT_EQ(RgbAt(picture, 0, 1), kRed);  // the second was decoded
    Picture noTable;
    ASSERT_TRUE(LoadGif(noTable, MakeGif(4, 1, ImageBlock(0, 0, 4, 1, kRunWithClear), 0, false)));
    EXPECT_EQ(RgbAt(noTable, 0, 0), kBlack);
    (void)beyond;
}

TEST(GifDecoder, DataThatEndsEarlyFails) {
    std::string gif = MakeGif(4, 1, ImageBlock(0, 0, 4, 1, kRunWithClear));
    Picture picture;
    EXPECT_FALSE(LoadGifFromMemory(picture, gif.substr(0, gif.size() - 1))); // no trailer
    EXPECT_FALSE(LoadGifFromMemory(picture, gif.substr(0, 30)));
    EXPECT_FALSE(LoadGifFromMemory(picture, MakeGif(0, 0, "")));
    // A 60-byte file that asks for gigapixels is refused, not allocated.
    EXPECT_FALSE(
        LoadGifFromMemory(picture, MakeGif(65535, 65535, ImageBlock(0, 0, 4, 1, kRunWithClear))));
}

// ---- The public GIF suites ---------------------------------------------------

namespace {

std::map<std::string, std::string> ReadConf(const std::string &path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t eq = line.find(" = ");
        if (eq != std::string::npos)
            values[section + "." + line.substr(0, eq)] = line.substr(eq + 3);
    }
    return values;
}

// Where this system's described behaviour differs from the suite's
// expectation, by test: why.
const std::map<std::string, std::string> kDifferences = {
    {"zero-width", "a zero-sized screen makes no picture: the load fails"},
    {"zero-height", "a zero-sized screen makes no picture: the load fails"},
    {"zero-size", "a zero-sized screen makes no picture: the load fails"},
    {"max-size", "65535 x 65535 is more than 100 megapixels: refused"},
};

} // namespace

TEST(GifSuite, StillImagesDecodeToTheExpectedPixels) {
    SKIP_WITHOUT_CORPUS("pygif-test-suite");
    int compared = 0;
    for (const std::string &name : GifSuiteTests()) {
        auto conf = ReadConf(Corpus("pygif-test-suite/" + name + ".conf"));
        const std::string frames = conf["config.frames"];
        if (frames.find(',') != std::string::npos)
            continue; // an animation: see the next test
        Picture picture;
        const std::string gif = Corpus("pygif-test-suite/" + conf["config.input"]);
        const bool loaded =
            GifDecoder(gif.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0) != 0;
        auto difference = kDifferences.find(name);
        if (difference != kDifferences.end() && !loaded) {
            continue;
        }
        if (frames.empty()) {
            continue; // no frame expected: any clean result will do
        }
        const std::string pixels = conf[frames + ".pixels"];
        if (pixels.empty())
            continue;
        EXPECT_TRUE(loaded) << name;
        if (!loaded)
            continue;
        std::string rgba = testing_support::ReadFile(Corpus("pygif-test-suite/" + pixels));
        const int width = std::stoi(conf["config.width"]),
                  height = std::stoi(conf["config.height"]);
        EXPECT_EQ(picture.Width(), width) << name;
        EXPECT_EQ(picture.Height(), height) << name;
        if (picture.Width() != width || picture.Height() != height)
            continue;
        int mismatches = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto *p =
                    reinterpret_cast<const unsigned char *>(rgba.data()) + (y * width + x) * 4;
                if (p[3] == 0)
                    continue; // transparent: this system shows the table colour
                const DWORD expected = (static_cast<DWORD>(p[0]) << 16) | (p[1] << 8) | p[2];
                mismatches += RgbAt(picture, x, y) != expected;
            }
        }
        if (difference != kDifferences.end()) {
            EXPECT_GT(mismatches, 0) << name << " is listed as a difference but matches";
        } else {
            EXPECT_EQ(mismatches, 0) << name;
            ++compared;
        }
    }
    EXPECT_GT(compared, 30);
}

TEST(GifSuite, AnimationsLoadAsAFrameRingAndStopPromptly) {
    SKIP_WITHOUT_CORPUS("pygif-test-suite");
    SKIP_WITHOUT_CORPUS("peterdn-gif-test-suite");
    const char *files[] = {
        "pygif-test-suite/animation.gif",
        "pygif-test-suite/dispose-restore-previous.gif",
        "pygif-test-suite/dispose-restore-background.gif",
        "peterdn-gif-test-suite/animated_loop_interlaced.gif",
        "peterdn-gif-test-suite/animated_transparent_firstframerestoreprev_loop.gif",
        "peterdn-gif-test-suite/animated_transparent_frame_restorebackground_loop.gif",
    };
    for (const char *file : files) {
        const std::string path = Corpus(file);
        auto picture = std::make_unique<Picture>();
        ASSERT_EQ(GifDecoder(path.c_str(), picture.get(), DecoderMode::kLoadFile, nullptr, 0), 1)
            << file;
        PictureFrame *first = picture->FirstFrame();
        ASSERT_NE(first, nullptr) << file;
        int frames = 1;
        for (PictureFrame *f = first->next; f != first && frames < 1000; f = f->next)
            ++frames;
        EXPECT_GT(frames, 1) << file;
        EXPECT_EQ(first->previous->next, first) << file;
        Sleep(30); // let the thread apply a disposal or two
        DWORD start = GetTickCount();
        picture.reset();
        EXPECT_LT(GetTickCount() - start, 2000u) << file;
    }
}
