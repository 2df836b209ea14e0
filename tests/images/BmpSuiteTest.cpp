// The BMP decoder (LoadImageA underneath) against the BMP Suite: the good
// files show one picture, run-length files equal their uncompressed twins,
// questionable files load or fail cleanly, bad files never crash; and
// run-length edge cases written inline.
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "images/BmpDecoder.h"
#include "testing/TestSupport.h"

using namespace image_testing;

namespace {

std::string Suite(const std::string &name) {
    return Corpus("bmpsuite/" + name);
}

int LoadBmp(Picture &picture, const std::string &path) {
    return BmpDecoder(path.c_str(), &picture, DecoderMode::kProbeFile, nullptr, 0) &&
           BmpDecoder(path.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0);
}

int Mismatches(const Picture &a, const Picture &b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return -1;
    int count = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            count += RgbAt(a, x, y) != RgbAt(b, x, y);
    return count;
}

double Luma(const Picture &p, int x, int y) {
    const DWORD v = RgbAt(p, x, y);
    return 0.299 * (v >> 16) + 0.587 * ((v >> 8) & 0xFF) + 0.114 * (v & 0xFF);
}

// How alike two pictures look: the correlation of their brightness, the
// reference sampled at the picture's size.
double Likeness(const Picture &picture, const Picture &reference) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const double n = static_cast<double>(picture.Width()) * picture.Height();
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x) {
            const double a = Luma(picture, x, y);
            const double b = Luma(reference, x * reference.Width() / picture.Width(),
                                  y * reference.Height() / picture.Height());
            sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
        }
    }
    return (n * sab - sa * sb) / std::sqrt((n * saa - sa * sa) * (n * sbb - sb * sb));
}

// The first palette entry of a bitmap file with a 40-byte header.
DWORD FirstPaletteColour(const std::string &path) {
    const std::string bytes = testing_support::ReadFile(path);
    const auto *entry = reinterpret_cast<const unsigned char *>(bytes.data()) + 14 + 40;
    return static_cast<DWORD>(entry[2] << 16 | entry[1] << 8 | entry[0]);
}

} // namespace

TEST(BmpSuite, GoodFilesShowOnePictureAndTwinsMatchPixelForPixel) {
    SKIP_WITHOUT_CORPUS("bmpsuite");
    Picture pal8, pal4, rgb24;
    ASSERT_TRUE(LoadBmp(pal8, Suite("g/pal8.bmp")));
    ASSERT_TRUE(LoadBmp(pal4, Suite("g/pal4.bmp")));
    ASSERT_TRUE(LoadBmp(rgb24, Suite("g/rgb24.bmp")));
    // The same pixels however they are stored: headers, orientation, runs.
    const std::pair<const char *, const Picture *> twins[] = {
        {"pal8-0", &pal8}, {"pal8os2", &pal8},  {"pal8rle", &pal8},    {"pal8topdown", &pal8},
        {"pal8v4", &pal8}, {"pal8v5", &pal8},   {"pal4rle", &pal4},    {"rgb24pal", &rgb24},
        {"rgb32", &rgb24}, {"rgb32bf", &rgb24}, {"rgb32bfdef", &rgb24}};
    for (const auto &[name, reference] : twins) {
        Picture picture;
        ASSERT_TRUE(LoadBmp(picture, Suite(std::string("g/") + name + ".bmp"))) << name;
        EXPECT_EQ(Mismatches(picture, *reference), 0) << name;
    }
    // Every good file is the same picture within what its colours can hold.
    for (const std::string &name : testing_support::ListFiles(Suite("g"), ".bmp")) {
        Picture picture;
        ASSERT_TRUE(LoadBmp(picture, Suite("g/" + name))) << name;
        if (name.rfind("pal8w", 0) == 0) { // 124 to 126 wide, of their own heights
            EXPECT_EQ(picture.Width(), std::stoi(name.substr(5, 3))) << name;
            EXPECT_EQ(picture.Height(), picture.Width() - 63) << name;
            continue;
        }
        EXPECT_EQ(picture.Width(), 127) << name;
        EXPECT_EQ(picture.Height(), name == "pal8nonsquare.bmp" ? 32 : 64) << name;
        const double least = name.rfind("pal1", 0) == 0   ? 0.6
                             : name.rfind("pal4", 0) == 0 ? 0.85
                                                          : 0.95;
        EXPECT_GE(Likeness(picture, pal8), least) << name;
    }
}

TEST(BmpSuite, RunsThatSkipPixelsLeaveThePalettesFirstColour) {
    SKIP_WITHOUT_CORPUS("bmpsuite");
    const std::pair<const char *, const char *> files[] = {{"q/pal8rletrns.bmp", "g/pal8.bmp"},
                                                           {"q/pal8rlecut.bmp", "g/pal8.bmp"},
                                                           {"q/pal4rletrns.bmp", "g/pal4.bmp"},
                                                           {"q/pal4rlecut.bmp", "g/pal4.bmp"}};
    for (const auto &[name, twin] : files) {
        Picture picture, reference;
        ASSERT_TRUE(LoadBmp(picture, Suite(name))) << name;
        ASSERT_TRUE(LoadBmp(reference, Suite(twin)));
        const DWORD skipped = FirstPaletteColour(Suite(name));
        int drawn = 0, left = 0, other = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                const DWORD pixel = RgbAt(picture, x, y);
                drawn += pixel == RgbAt(reference, x, y);
                left += pixel != RgbAt(reference, x, y) && pixel == skipped;
                other += pixel != RgbAt(reference, x, y) && pixel != skipped;
            }
        }
        EXPECT_EQ(other, 0) << name;
        EXPECT_GT(left, 100) << name; // the deltas and early ends did skip pixels
        EXPECT_GT(drawn, 127 * 64 / 4) << name;
    }
}

TEST(BmpSuite, QuestionableFilesLoadOrFailCleanly) {
    SKIP_WITHOUT_CORPUS("bmpsuite");
    // Printers' forms, Huffman, 24-bit runs, 64 bits a pixel: refused.
    for (const char *name : {"pal1huffmsb", "rgb24jpeg", "rgb24png", "rgb24rle24", "rgba64"}) {
        Picture picture;
        EXPECT_FALSE(LoadBmp(picture, Suite(std::string("q/") + name + ".bmp"))) << name;
    }
    // Everything else the suite's notes call valid or probably valid loads.
    int loaded = 0;
    for (const std::string &name : testing_support::ListFiles(Suite("q"), ".bmp")) {
        Picture picture;
        if (!LoadBmp(picture, Suite("q/" + name)))
            continue;
        ++loaded;
        EXPECT_EQ(picture.Width(), 127) << name;
        EXPECT_EQ(picture.Height(), 64) << name;
    }
    EXPECT_GE(loaded, 33);
    for (const char *name : {"pal8offs", "pal8oversizepal", "pal8os2-sz", "pal8os2-hs", "pal8os2sp",
                             "pal8os2v2-40sz"}) {
        Picture picture;
        ASSERT_TRUE(LoadBmp(picture, Suite(std::string("q/") + name + ".bmp"))) << name;
        Picture pal8;
        LoadBmp(pal8, Suite("g/pal8.bmp"));
        EXPECT_EQ(Mismatches(picture, pal8), 0) << name;
    }
}

TEST(BmpSuite, BadFilesFailOrLoadSomethingSane) {
    SKIP_WITHOUT_CORPUS("bmpsuite");
    for (const std::string &name : testing_support::ListFiles(Suite("b"), ".bmp")) {
        Picture picture;
        if (LoadBmp(picture, Suite("b/" + name))) {
            EXPECT_EQ(picture.Width(), 127) << name;
            EXPECT_EQ(picture.Height(), 64) << name;
        }
    }
    for (const char *name : {"badwidth", "reallybig", "rletopdown", "badheadersize", "badplanes",
                             "badbitcount", "shortfile"}) {
        Picture picture;
        EXPECT_FALSE(LoadBmp(picture, Suite(std::string("b/") + name + ".bmp"))) << name;
    }
}

namespace {

// A bottom-up bitmap file of the given depth and compression: a 40-byte
// header, a palette of `colours` greys (index i is grey 16 * i + 15 for
// 4 bits, i for 8), then the pixel data as given.
std::string RleFile(int width, int height, int bits, int compression, const std::string &pixels) {
    const int colours = 1 << bits;
    std::string header(40, '\0');
    auto put32 = [&](size_t at, long value) {
        for (int i = 0; i < 4; ++i)
            header[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put32(0, 40);
    put32(4, width);
    put32(8, height);
    header[12] = 1;
    header[14] = static_cast<char>(bits);
    put32(16, compression);
    put32(20, static_cast<long>(pixels.size()));
    std::string palette;
    for (int i = 0; i < colours; ++i) {
        const char grey = static_cast<char>(bits == 4 ? 16 * i + 15 : i);
        palette += std::string(3, grey) + '\0';
    }
    std::string file = "BM" + std::string(12, '\0');
    const size_t offset = 14 + 40 + palette.size();
    for (int i = 0; i < 4; ++i)
        file[10 + static_cast<size_t>(i)] = static_cast<char>((offset >> (8 * i)) & 0xFF);
    return file + header + palette + pixels;
}

// The picture's greys, rows top first, one character a pixel: '.' for
// index 0, else the hexadecimal digit of the index.
std::string Indices(const Picture &picture, int bits) {
    std::string rows;
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x) {
            const int grey = static_cast<int>(RgbAt(picture, x, y) & 0xFF);
            const int index = bits == 4 ? (grey - 15) / 16 : grey;
            rows += index == 0 ? '.' : "0123456789abcdef"[index & 15];
        }
        rows += '/';
    }
    return rows;
}

std::string LoadIndices(const std::string &bytes, int bits) {
    const std::string dir = testing_support::MakeTempDir("rle-");
    testing_support::WriteFile(dir + "/t.bmp", bytes);
    Picture picture;
    const int ok = LoadBmp(picture, dir + "/t.bmp");
    testing_support::RemoveTree(dir);
    return ok ? Indices(picture, bits) : "(refused)";
}

} // namespace

TEST(BmpRle, EightBitRunsAbsoluteRunsDeltasAndEnds) {
    // Bottom row: a run of three 1s, an absolute run 2 3 4 (padded to a
    // word), end of line. Then a delta right 2 and up 1, two 6s and a run of
    // 5s past the right edge, an end of line, and an early end of bitmap.
    const std::string data("\x03\x01\x00\x03\x02\x03\x04\x00\x00\x00"
                           "\x00\x02\x02\x01\x02\x06"
                           "\x09\x05\x00\x00\x00\x01",
                           22);
    EXPECT_EQ(LoadIndices(RleFile(6, 4, 8, BI_RLE8, data), 8), "....../..6655/....../111234/");
}

TEST(BmpRle, FourBitRunsAlternateTheirNibblesAndPadOddRuns) {
    // A run of five alternating 1 2, then an absolute run of five (nibbles
    // 3 to 7, three bytes, padded to a word), end of line, end of bitmap.
    const std::string data("\x05\x12\x00\x05\x34\x56\x70\x00\x00\x00\x00\x01", 12);
    EXPECT_EQ(LoadIndices(RleFile(10, 2, 4, BI_RLE4, data), 4), "........../1212134567/");
}

TEST(BmpRle, NothingIsWrittenOutsideTheBitmap) {
    // A delta far past the edges ends the drawing; a run longer than a row
    // stops at its edge; an absolute run cut off by the end of the data
    // draws nothing.
    const std::string far("\x00\x02\xFF\xFF\x05\x07", 6);
    EXPECT_EQ(LoadIndices(RleFile(3, 2, 8, BI_RLE8, far), 8), ".../.../");
    const std::string start("\xFF\x08\x00\x00\x02\x09", 6);
    EXPECT_EQ(LoadIndices(RleFile(3, 2, 8, BI_RLE8, start), 8), "99./888/");
    const std::string cut("\x01\x03\x00\x05\x01\x02", 6);
    EXPECT_EQ(LoadIndices(RleFile(3, 2, 8, BI_RLE8, cut), 8), ".../3../");
    // Run-length bitmaps cannot be top-down.
    std::string topDown = RleFile(3, 2, 8, BI_RLE8, start);
    topDown[14 + 8 + 3] = '\xFF', topDown[14 + 8] = '\xFE', topDown[14 + 9] = '\xFF',
                     topDown[14 + 10] = '\xFF';
    EXPECT_EQ(LoadIndices(topDown, 8), "(refused)");
}
