// PDF417: segmentation and compaction, layout, error correction, painting,
// and symbols read back by an independent decoder.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "barcode/Pdf417Image.h"
#include "barcode/Pdf417Layout.h"
#include "barcode/Pdf417Patterns.h"
#include "testing/BarcodeScan.h"

namespace {

// The codewords after the length descriptor, as many as asked.
std::vector<int> DataCodewords(const std::string &text, int count) {
    Pdf417Encoder encoder;
    encoder.SetText(text.c_str());
    encoder.Encode();
    EXPECT_EQ(encoder.Error(), Pdf417Encoder::kNone) << text;
    return std::vector<int>(encoder.Codewords() + 1, encoder.Codewords() + 1 + count);
}

std::string Kinds(const std::string &text) {
    Pdf417Encoder encoder;
    encoder.SetText(text.c_str());
    encoder.Encode();
    std::string kinds;
    for (const Pdf417Segment &s : encoder.Segments())
        kinds += s.kind;
    return kinds;
}

// Bytes that make one byte segment of n codewords with the descriptor and
// the latch: n = 2 + 5 x (L / 6) + L mod 6.
std::string BytesFor(int n) {
    const int rest = n - 2;
    return std::string(static_cast<size_t>(rest / 5 * 6 + rest % 5), '\x80');
}

// The symbol's pixels as grey bytes, top row first.
std::vector<unsigned char> Grey(const DWORD *pixels, int width, int height) {
    std::vector<unsigned char> grey(static_cast<size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grey[static_cast<size_t>(y * width + x)] =
                static_cast<unsigned char>(pixels[(height - 1 - y) * width + x] & 0xFF);
    return grey;
}

// Encodes and reads back: every row repeated 9 times (three times the
// module width) for the reader.
std::string RoundTrip(Pdf417Image &image, const std::string &text) {
    const DWORD *pixels = image.EncodeText(text.c_str());
    if (!pixels)
        return "(no symbol)";
    return testing_support::ScanGrey(Grey(pixels, image.Width(), image.Height()), image.Width(),
                                     image.Height(), 3, 9);
}

// The 17 modules of a row's symbol character at position `column` (0 is
// the left row indicator), bars as 1 bits.
std::uint32_t Character(const Pdf417Encoder &encoder, int row, int column) {
    const int bytesPerRow = encoder.BitmapLength() / encoder.Rows();
    const unsigned char *bits = encoder.Bitmap() + row * bytesPerRow;
    std::uint32_t pattern = 0;
    for (int x = 17 * (column + 1); x < 17 * (column + 2); ++x)
        pattern = pattern << 1 | (~bits[x >> 3] >> (7 - (x & 7)) & 1);
    return pattern;
}

} // namespace

TEST(Pdf417Text, SubModesLatchesAndShifts) {
    EXPECT_EQ(DataCodewords("ABC", 2), (std::vector<int>{1, 89})); // 0 1 2 29
    EXPECT_EQ(DataCodewords("1234567", 4), (std::vector<int>{841, 63, 125, 187}));
    // a b in Lower, '1' latches Mixed (28), 'c' latches Lower (27).
    EXPECT_EQ(DataCodewords("ab1cd", 4), (std::vector<int>{27 * 30 + 0, 1 * 30 + 28, 1 * 30 + 27, 2 * 30 + 3}));
    // In Lower: a capital before two more Alpha characters latches through
    // Mixed (28 28); otherwise each capital is shifted (27).
    EXPECT_EQ(DataCodewords("aBCD", 4), (std::vector<int>{810, 28 * 30 + 28, 1 * 30 + 2, 3 * 30 + 29}));
    EXPECT_EQ(DataCodewords("aBCd", 4), (std::vector<int>{810, 27 * 30 + 1, 27 * 30 + 2, 3 * 30 + 29}));
    // A punctuation mark: shifted alone, latched when two more follow.
    EXPECT_EQ(DataCodewords("A!B", 2), (std::vector<int>{0 * 30 + 29, 10 * 30 + 1}));
    EXPECT_EQ(DataCodewords("A!?(", 3), (std::vector<int>{0 * 30 + 28, 25 * 30 + 10, 25 * 30 + 23}));
    // Back from Punctuation to Alpha with 29.
    EXPECT_EQ(DataCodewords("!?(A", 4), (std::vector<int>{28 * 30 + 25, 10 * 30 + 25, 23 * 30 + 29, 0 * 30 + 29}));
}

TEST(Pdf417Text, BytesInsideTextGoAsByteShifts) {
    // B(1) T(5) B(1) becomes one text; an odd list is padded before a shift.
    EXPECT_EQ(Kinds("\x80" "ABCDE\x81"), "T");
    EXPECT_EQ(DataCodewords("\x80" "ABCDE\x81", 7), (std::vector<int>{913, 128, 1, 63, 4 * 30 + 29, 913, 129}));
    // A lone byte between texts of 3 characters in all joins them.
    EXPECT_EQ(Kinds("AB\x80" "C"), "T");
    EXPECT_EQ(Kinds("A\x80" "B"), "B");
}

TEST(Pdf417Segments, NumericRunsAndBytes) {
    EXPECT_EQ(Kinds("ABC"), "T");
    EXPECT_EQ(Kinds("1234567"), "T");
    EXPECT_EQ(Kinds("12345678"), "N"); // a lone all-digit text of 8 or more
    EXPECT_EQ(DataCodewords("12345678", 4), (std::vector<int>{902, 138, 628, 478})); // 112345678
    EXPECT_EQ(Kinds("1234567890123"), "N");
    EXPECT_EQ(DataCodewords("1234567890123", 6)[0], 902);
    EXPECT_EQ(Kinds("Order 123456789012 shipped"), "T"); // 12 digits stay text
    EXPECT_EQ(Kinds("Order 1234567890123 shipped"), "TNT");
    EXPECT_EQ(DataCodewords("Order 1234567890123 shipped", 20)[10], 900); // back to text
    // GBK text: one byte run, 924 when its length is a multiple of 6.
    EXPECT_EQ(Kinds("\xD6\xD0\xCE\xC4\xCC\xF5"), "B");
    EXPECT_EQ(DataCodewords("\xD6\xD0\xCE\xC4\xCC\xF5", 1)[0], 924);
    EXPECT_EQ(DataCodewords("\xD6\xD0\xCE\xC4\xCC\xF5\xC2\xEB", 1)[0], 901);
    // Short texts between bytes join them.
    EXPECT_EQ(Kinds("\xD6\xD0" "AB\xCE\xC4"), "B");
}

TEST(Pdf417Segments, TextLengthLimits) {
    Pdf417Encoder encoder;
    std::string longest(5420, 'A'), tooLong(5421, 'A');
    encoder.SetText(tooLong.c_str());
    encoder.Encode();
    EXPECT_EQ(encoder.Error(), Pdf417Encoder::kTooBig);
    EXPECT_TRUE(encoder.Segments().empty()); // refused before segmentation
    encoder.Reset();
    encoder.SetText(longest.c_str());
    encoder.Encode();
    EXPECT_EQ(encoder.Error(), Pdf417Encoder::kTooBig); // 2710 codewords do not fit
    EXPECT_EQ(encoder.Segments().size(), 1u);
    encoder.Reset();
    encoder.SetText("");
    encoder.Encode();
    EXPECT_NE(encoder.Error(), Pdf417Encoder::kNone);
    // The largest byte run that fits, and one more byte.
    encoder.Reset();
    std::string bytes = BytesFor(926);
    encoder.SetText(bytes.c_str());
    encoder.Encode();
    EXPECT_EQ(encoder.Error(), Pdf417Encoder::kNone);
    bytes += '\x80';
    encoder.Reset();
    encoder.SetText(bytes.c_str());
    encoder.Encode();
    EXPECT_EQ(encoder.Error(), Pdf417Encoder::kTooBig);
}

TEST(Pdf417Layout, LevelsRowsAndColumns) {
    struct Case {
        int n, level, columns, rows, padding;
    };
    for (const Case &c : {Case{3, 2, 1, 11, 0}, Case{40, 2, 3, 16, 0}, Case{41, 3, 3, 19, 0},
                          Case{100, 3, 5, 24, 4}, Case{161, 4, 7, 28, 3}, Case{900, 3, 16, 58, 12},
                          Case{926, 0, 16, 58, 0}}) {
        const std::string text = c.n == 3 ? "ABC" : BytesFor(c.n);
        Pdf417Encoder encoder;
        encoder.SetText(text.c_str());
        encoder.Encode();
        ASSERT_EQ(encoder.Error(), Pdf417Encoder::kNone) << c.n;
        EXPECT_EQ(encoder.ErrorLevel(), c.level) << c.n;
        EXPECT_EQ(encoder.Columns(), c.columns) << c.n;
        EXPECT_EQ(encoder.Rows(), c.rows) << c.n;
        EXPECT_EQ(encoder.CodewordCount(), c.columns * c.rows) << c.n;
        EXPECT_EQ(encoder.Codewords()[0], c.n + c.padding) << c.n; // the descriptor counts the padding
        EXPECT_EQ(encoder.CodewordCount() - encoder.Codewords()[0], 2 << c.level) << c.n;
        for (int i = c.n; i < c.n + c.padding; ++i)
            EXPECT_EQ(encoder.Codewords()[i], 900) << c.n;
        EXPECT_EQ(encoder.BitColumns(), 17 * c.columns + 69);
    }
    EXPECT_EQ(Pdf417Layout::MaxLevel(3), 0);
    EXPECT_EQ(Pdf417Layout::MaxLevel(4), 1);
    EXPECT_EQ(Pdf417Layout::MaxLevel(28), 3);
    EXPECT_EQ(Pdf417Layout::MaxLevel(5000), 8);
}

TEST(Pdf417Layout, ReedSolomonAndRowIndicators) {
    Pdf417Encoder encoder;
    encoder.SetText("ABC");
    encoder.Encode();
    ASSERT_EQ(encoder.Rows(), 11);
    // The codewords with their error correction are a multiple of the
    // generator: they vanish at 3, 3^2, ..., 3^8 (highest order first).
    for (int power = 1; power <= 8; ++power) {
        long root = 1;
        for (int i = 0; i < power; ++i)
            root = root * 3 % 929;
        long value = 0;
        for (int i = 0; i < encoder.CodewordCount(); ++i)
            value = (value * root + encoder.Codewords()[i]) % 929;
        EXPECT_EQ(value, 0) << power;
    }
    // One column, 11 rows, level 2: rows 0, 1, 2 carry 3|0, 7|3, 0|7.
    const int left[3] = {3, 7, 0}, right[3] = {0, 3, 7};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Character(encoder, row, 0), pdf417::kClusters[row][left[row]]) << row;
        EXPECT_EQ(Character(encoder, row, 2), pdf417::kClusters[row][right[row]]) << row;
        EXPECT_EQ(Character(encoder, row, 1), pdf417::kClusters[row][encoder.Codewords()[row]]) << row;
    }
    // Row 3 starts the next group of three: 30 more on both sides.
    EXPECT_EQ(Character(encoder, 3, 0), pdf417::kClusters[0][33]);
    EXPECT_EQ(Character(encoder, 3, 2), pdf417::kClusters[0][30]);
}

TEST(Pdf417Image, PixelsRowsAndReuse) {
    Pdf417Image image;
    const DWORD *pixels = image.EncodeText("ABC");
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(image.Width(), 86);
    EXPECT_EQ(image.Height(), 11);
    for (int y = 0; y < 11; ++y) {
        EXPECT_EQ(pixels[y * 86 + 0], 0u);         // start pattern's first bar
        EXPECT_EQ(pixels[y * 86 + 8], 0x00FFFFFFu); // its first space
        EXPECT_EQ(pixels[y * 86 + 85], 0u);        // stop pattern's last bar
    }
    // Bottom row first: row 10 uses cluster 3 and its left indicator is
    // 30 x 3 + 3 x 2 + 10 mod 3 = 97.
    std::uint32_t pattern = 0;
    for (int x = 17; x < 34; ++x)
        pattern = pattern << 1 | (pixels[x] == 0);
    EXPECT_EQ(pattern, pdf417::kClusters[1][97]);

    // A larger symbol grows the array; a smaller one reuses it.
    const std::string large = BytesFor(500);
    const DWORD *grown = image.EncodeText(large.c_str());
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(image.EncodeText("ABC"), grown);
    // A refused text leaves the last size.
    EXPECT_EQ(image.EncodeText(""), nullptr);
    EXPECT_EQ(image.EncodeText(nullptr), nullptr);
    EXPECT_EQ(image.Width(), 86);
    EXPECT_EQ(image.EncodeText(std::string(5421, 'A').c_str()), nullptr);
    EXPECT_EQ(image.Height(), 11);
}

TEST(Pdf417Scan, TextsOfEveryKindReadBack) {
    Pdf417Image image;
    std::vector<std::string> texts = {
        "ABC", "Hello, World!", "1234567", "12345678",
        "aBcD eFGH ij;<>@[\\]_`~!\r\t,:\n-.$/\"|*()?{}' #&+%=^ xyZ",
        "mixed: a1B2c3 ... end?", "UPPER lower MIXED 12:34 !? (x)",
        "\xD6\xD0\xCE\xC4\xCC\xF5\xC2\xEB", "GBK \xD6\xD0\xCE\xC4 and ASCII 2026-12-08",
        "\x80" "ABCDE\x81", "\x01\x02\x7F\xFF\x10 text \x9F",
    };
    for (int run = 10; run <= 16; ++run)
        texts.push_back("No." + std::string(static_cast<size_t>(run), '7') + "x");
    for (int length : {13, 44, 45, 100, 2710})
        texts.push_back(std::string(static_cast<size_t>(length), '9'));
    std::mt19937 random(417);
    for (int length : {1, 5, 6, 7, 12, 100, 301}) {
        std::string bytes;
        for (int i = 0; i < length; ++i)
            bytes += static_cast<char>(1 + random() % 255);
        texts.push_back(bytes);
    }
    texts.push_back(BytesFor(926)); // the capacity limit
    texts.push_back(std::string(1850, 'Q'));
    for (const std::string &text : texts)
        EXPECT_EQ(RoundTrip(image, text), text) << text.size() << " bytes: " << text.substr(0, 40);
}
