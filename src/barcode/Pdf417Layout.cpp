#include "barcode/Pdf417Layout.h"

#include <cmath>
#include <cstdint>
#include <new>

#include "barcode/Pdf417Encoder.h"
#include "barcode/Pdf417ErrorCoefficients.h"
#include "barcode/Pdf417Patterns.h"

namespace {

constexpr int kPad = 900;
constexpr int kMaxColumns = 30;
constexpr int kMinRows = 3;
constexpr int kMaxRows = 90;

// Writes modules into one row of the bit image, leftmost module in the
// highest bit of each byte.
class RowWriter {
public:
    explicit RowWriter(unsigned char *row) : m_out(row) {}
    void Put(std::uint32_t pattern, int modules) {
        m_bits = m_bits << modules | pattern;
        m_count += modules;
        while (m_count >= 8) {
            m_count -= 8;
            *m_out++ = static_cast<unsigned char>(m_bits >> m_count);
        }
    }
    void Flush() {
        if (m_count > 0)
            *m_out = static_cast<unsigned char>(m_bits << (8 - m_count));
    }

private:
    unsigned char *m_out;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

} // namespace

int Pdf417Layout::MaxLevel(int spare) {
    for (int level = pdf417::kMaxErrorLevel; level >= 1; --level)
        if (pdf417::ErrorCodewords(level) <= spare)
            return level;
    return 0;
}

bool Pdf417Layout::Build(Pdf417Encoder &e) {
    ChooseLayout(e);
    const int n = e.m_nCodewords;
    const int capacity = e.m_nRows * e.m_nColumns;
    e.m_nErrorLevel = MaxLevel(capacity - n);
    const int k = pdf417::ErrorCodewords(e.m_nErrorLevel);
    while (e.m_nCodewords < capacity - k)
        e.m_codewords[e.m_nCodewords++] = kPad;
    e.m_codewords[0] = e.m_nCodewords;
    AddErrorCorrection(e, k);
    return Paint(e);
}

// Rows and columns for the data and the provisional level's error codewords,
// near the aspect ratio; the final level then takes the spare room.
void Pdf417Layout::ChooseLayout(Pdf417Encoder &e) {
    const int n = e.m_nCodewords;
    int level = n <= 40 ? 2 : n <= 160 ? 3 : n <= 320 ? 4 : 5;
    const int limit = MaxLevel(Pdf417Encoder::kMaxCodewords - n);
    if (limit < level)
        level = limit;
    const int t = n + pdf417::ErrorCodewords(level);
    const double a = e.m_aspectRatio, y = e.m_rowHeight;
    const double l = 73.0 * a - 4.0;
    int c = static_cast<int>((std::sqrt(68.0 * a * y * t + l * l) - l) / (34.0 * a) + 0.5);
    c = c < 1 ? 1 : c > kMaxColumns ? kMaxColumns : c;
    int r = (t - 1) / c + 1;
    if (r < kMinRows)
        r = kMinRows;
    if (r > kMaxRows) {
        r = kMaxRows;
        c = (t - 1) / kMaxRows + 1;
    }
    if (r * c > Pdf417Encoder::kMaxCodewords) {
        if (c < 22) {
            c = 16;
            r = 58;
        } else {
            c = 29;
            r = 32;
        }
    }
    e.m_nColumns = c;
    e.m_nRows = r;
}

// Reed-Solomon over the integers modulo 929: the remainder of the codewords
// by the level's generator, appended highest order first.
void Pdf417Layout::AddErrorCorrection(Pdf417Encoder &e, int k) {
    const int *coefficient = &pdf417::kErrorCoefficients[pdf417::CoefficientOffset(e.m_nErrorLevel)];
    int remainder[513] = {};
    const int n = e.m_nCodewords;
    // 929 squared keeps each step's difference positive with one reduction.
    constexpr int kBias = pdf417::kModulus * pdf417::kModulus;
    for (int i = 0; i < n; ++i) {
        const int t1 = (e.m_codewords[i] + remainder[0]) % pdf417::kModulus;
        for (int j = 0; j < k; ++j)
            remainder[j] = (remainder[j + 1] + kBias - t1 * coefficient[k - 1 - j]) % pdf417::kModulus;
    }
    for (int j = 0; j < k; ++j)
        e.m_codewords[n + j] = (pdf417::kModulus - remainder[j]) % pdf417::kModulus;
    e.m_nCodewords = n + k;
}

// Start, left row indicator, the row's codewords, right row indicator, stop;
// then every bit inverted, so that a 1 bit is a space.
bool Pdf417Layout::Paint(Pdf417Encoder &e) {
    const int c = e.m_nColumns, r = e.m_nRows, level = e.m_nErrorLevel;
    const int width = pdf417::kSymbolModules * c + 69;
    const int bytesPerRow = (width - 1) / 8 + 1;
    e.m_bitmap.reset(new (std::nothrow) unsigned char[static_cast<size_t>(bytesPerRow * r)]());
    if (!e.m_bitmap)
        return false;
    e.m_nBitmapLength = bytesPerRow * r;
    e.m_nBitColumns = width;
    const int *codeword = e.m_codewords;
    for (int i = 0; i < r; ++i) {
        const pdf417::Cluster &cluster = pdf417::kClusters[static_cast<size_t>(i % 3)];
        const int q = 30 * (i / 3);
        const int rowsPart = q + (r - 1) / 3, levelPart = q + 3 * level + (r - 1) % 3, columnsPart = q + c - 1;
        const int left = i % 3 == 0 ? rowsPart : i % 3 == 1 ? levelPart : columnsPart;
        const int right = i % 3 == 0 ? columnsPart : i % 3 == 1 ? rowsPart : levelPart;
        RowWriter row(e.m_bitmap.get() + static_cast<size_t>(i * bytesPerRow));
        row.Put(pdf417::kStartPattern, pdf417::kStartModules);
        row.Put(cluster[static_cast<size_t>(left)], pdf417::kSymbolModules);
        for (int j = 0; j < c; ++j)
            row.Put(cluster[static_cast<size_t>(*codeword++)], pdf417::kSymbolModules);
        row.Put(cluster[static_cast<size_t>(right)], pdf417::kSymbolModules);
        row.Put(pdf417::kStopPattern, pdf417::kStopModules);
        row.Flush();
    }
    for (int i = 0; i < e.m_nBitmapLength; ++i)
        e.m_bitmap[static_cast<size_t>(i)] = static_cast<unsigned char>(~e.m_bitmap[static_cast<size_t>(i)]);
    return true;
}
