// Pdf417Encoder: turns an ANSI text into the codewords of a PDF417 symbol
// (segmentation into text, byte and numeric runs, their compaction) and then,
// through Pdf417Layout, into the symbol's bit image. One record serves every
// encoding; each starts from the defaults.
#pragma once

#include <memory>
#include <vector>

#include "barcode/Pdf417Segment.h"

class Pdf417Encoder {
public:
    static constexpr int kMaxTextLength = 5420;
    static constexpr int kMaxCodewords = 928;
    // The data's limit: the smallest level's two error codewords fill 928.
    static constexpr int kMaxDataCodewords = 926;

    enum Error { kNone = 0, kTooBig = 1, kNoText = 2, kNoMemory = 3 };

    Pdf417Encoder() = default;
    Pdf417Encoder(const Pdf417Encoder &) = delete;
    Pdf417Encoder &operator=(const Pdf417Encoder &) = delete;

    // Back to the defaults: no bitmap, no error, aspect 0.5, row height 3.
    void Reset();
    void SetText(const char *text) { m_text = text; }
    // Encodes the text; Error() tells the outcome, the layout fields and the
    // bit image hold the symbol on success.
    void Encode();
    void FreeBitmap();

    int Error() const { return m_nError; }
    const unsigned char *Bitmap() const { return m_bitmap.get(); }
    int BitmapLength() const { return m_nBitmapLength; }
    int BitColumns() const { return m_nBitColumns; }
    int Rows() const { return m_nRows; }
    int Columns() const { return m_nColumns; }
    int ErrorLevel() const { return m_nErrorLevel; }
    const int *Codewords() const { return m_codewords; }
    int CodewordCount() const { return m_nCodewords; }
    const std::vector<Pdf417Segment> &Segments() const { return m_segments; }

private:
    friend class Pdf417Layout;

    void Segment();
    void CutTextAndBytes(int from, int to);
    void Append(char kind, int start, int end);
    bool MergeLoneBytes();
    bool MergeIntoLongText();
    bool MergeIntoBytes();
    bool Absorb(bool (*takes)(const Pdf417Segment &), bool (*joins)(const Pdf417Segment &));
    void Remove(size_t index) { m_segments.erase(m_segments.begin() + static_cast<long>(index)); }
    bool Assemble();
    bool Fits(int more) const { return more + m_nCodewords <= kMaxDataCodewords; }
    void Put(int codeword) { m_codewords[m_nCodewords++] = codeword; }
    bool CompactBytes(const Pdf417Segment &segment);
    bool CompactNumbers(const Pdf417Segment &segment);
    bool CompactText(const Pdf417Segment &segment);
    void TextSubValues(const Pdf417Segment &segment, int &byteShifts);

    std::unique_ptr<unsigned char[]> m_bitmap;
    int m_nBitmapLength = 0;
    int m_nBitColumns = 0;
    int m_nRows = 0;
    int m_nColumns = 0;
    int m_codewords[kMaxCodewords] = {};
    int m_nCodewords = 0;
    int m_nErrorLevel = 0;
    const char *m_text = nullptr;
    int m_nTextLength = 0;
    float m_aspectRatio = 0.5f;
    float m_rowHeight = 3.0f;
    int m_nError = kNone;

    std::vector<Pdf417Segment> m_segments;
    std::vector<int> m_subValues; // text compaction's scratch list, kept for reuse
};
