#include "barcode/Pdf417Encoder.h"

#include <cstring>
#include <new>

#include "barcode/Pdf417Layout.h"
#include "barcode/Pdf417TextModes.h"

namespace {

constexpr int kLatchText = 900;
constexpr int kLatchByte = 901;
constexpr int kLatchNumeric = 902;
constexpr int kShiftByte = 913;
constexpr int kLatchByteSixes = 924;

// Digit runs this long leave text compaction for numeric compaction.
constexpr int kNumericRun = 13;
// Text runs this long take in lone bytes around them.
constexpr int kLongText = 5;
constexpr int kNumericGroup = 44;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsText(unsigned char c) { return (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n' || c == '\t'; }

bool In(unsigned char c, unsigned char modes) { return (pdf417::kTextChars[c].modes & modes) != 0; }

} // namespace

void Pdf417Encoder::Reset() {
    FreeBitmap();
    m_nError = kNone;
    m_aspectRatio = 0.5f;
    m_rowHeight = 3.0f;
    m_nCodewords = 0;
    m_segments.clear();
}

void Pdf417Encoder::FreeBitmap() {
    m_bitmap.reset();
    m_nBitmapLength = 0;
}

void Pdf417Encoder::Encode() {
    m_nTextLength = m_text ? static_cast<int>(std::strlen(m_text)) : 0;
    if (m_nTextLength == 0) {
        m_nError = kNoText; // an empty text makes no symbol
        return;
    }
    if (m_nTextLength > kMaxTextLength) {
        m_nError = kTooBig;
        return;
    }
    try {
        Segment();
        m_nCodewords = 1;
        if (!Assemble()) {
            m_nError = kTooBig;
            return;
        }
    } catch (const std::bad_alloc &) {
        m_nError = kNoMemory;
        return;
    }
    m_codewords[0] = m_nCodewords;
    if (!Pdf417Layout::Build(*this))
        m_nError = kNoMemory;
}

// ---- Segmentation ----------------------------------------------------------

void Pdf417Encoder::Segment() {
    m_segments.clear();
    m_segments.reserve(20);
    const auto *text = reinterpret_cast<const unsigned char *>(m_text);
    int done = 0, runStart = 0, run = 0;
    for (int i = 0; i <= m_nTextLength; ++i) {
        if (i < m_nTextLength && IsDigit(text[i])) {
            if (run++ == 0)
                runStart = i;
            continue;
        }
        if (run >= kNumericRun) {
            CutTextAndBytes(done, runStart);
            Append('N', runStart, i);
            done = i;
        }
        run = 0;
    }
    CutTextAndBytes(done, m_nTextLength);

    while (MergeLoneBytes()) {
    }
    while (MergeIntoLongText()) {
    }
    while (MergeIntoBytes()) {
    }
    if (m_segments.size() == 1) {
        Pdf417Segment &only = m_segments[0];
        bool digits = only.kind == 'T' && only.Length() >= 8;
        for (int i = only.start; digits && i < only.end; ++i)
            digits = IsDigit(text[i]);
        if (digits)
            only.kind = 'N';
    }
}

// Cuts [from, to) into maximal runs of text characters and of bytes.
void Pdf417Encoder::CutTextAndBytes(int from, int to) {
    const auto *text = reinterpret_cast<const unsigned char *>(m_text);
    int start = from;
    for (int i = from + 1; i <= to; ++i) {
        if (i == to || IsText(text[i]) != IsText(text[start])) {
            Append(IsText(text[start]) ? 'T' : 'B', start, i);
            start = i;
        }
    }
}

void Pdf417Encoder::Append(char kind, int start, int end) { m_segments.push_back({kind, start, end}); }

// A lone byte between two texts of 3 or more characters in all joins them.
bool Pdf417Encoder::MergeLoneBytes() {
    for (size_t i = 1; i + 1 < m_segments.size(); ++i) {
        const Pdf417Segment &before = m_segments[i - 1], &b = m_segments[i], &after = m_segments[i + 1];
        if (b.kind == 'B' && b.Length() == 1 && before.kind == 'T' && after.kind == 'T' &&
            before.Length() + after.Length() >= 3) {
            m_segments[i - 1].end = after.end;
            m_segments.erase(m_segments.begin() + static_cast<long>(i), m_segments.begin() + static_cast<long>(i) + 2);
            return true;
        }
    }
    return false;
}

// A text of 5 or more takes in a text or a lone byte on either side.
bool Pdf417Encoder::MergeIntoLongText() {
    return Absorb([](const Pdf417Segment &s) { return s.kind == 'T' && s.Length() >= kLongText; },
                  [](const Pdf417Segment &s) { return s.kind == 'T' || (s.kind == 'B' && s.Length() == 1); });
}

// Bytes take in bytes and short texts on either side.
bool Pdf417Encoder::MergeIntoBytes() {
    return Absorb([](const Pdf417Segment &s) { return s.kind == 'B'; },
                  [](const Pdf417Segment &s) { return s.kind == 'B' || (s.kind == 'T' && s.Length() < kLongText); });
}

// The first segment that `takes` absorbs its neighbours that `joins`, each
// side judged on its own; true when one did.
bool Pdf417Encoder::Absorb(bool (*takes)(const Pdf417Segment &), bool (*joins)(const Pdf417Segment &)) {
    for (size_t i = 0; i < m_segments.size(); ++i) {
        if (!takes(m_segments[i]))
            continue;
        const bool after = i + 1 < m_segments.size() && joins(m_segments[i + 1]);
        const bool before = i > 0 && joins(m_segments[i - 1]);
        if (after) {
            m_segments[i].end = m_segments[i + 1].end;
            Remove(i + 1);
        }
        if (before) {
            m_segments[i].start = m_segments[i - 1].start;
            Remove(i - 1);
        }
        if (before || after)
            return true;
    }
    return false;
}

// ---- Codeword assembly -----------------------------------------------------

bool Pdf417Encoder::Assemble() {
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const Pdf417Segment &segment = m_segments[i];
        bool fits = false;
        switch (segment.kind) {
        case 'B':
            Put(segment.Length() % 6 == 0 ? kLatchByteSixes : kLatchByte);
            fits = CompactBytes(segment);
            break;
        case 'N':
            Put(kLatchNumeric);
            fits = CompactNumbers(segment);
            break;
        default:
            if (i > 0) // text compaction is where a symbol starts
                Put(kLatchText);
            fits = CompactText(segment);
            break;
        }
        if (!fits)
            return false;
    }
    return true;
}

// Six bytes as a 48-bit number make five base-900 codewords; the rest go
// one byte per codeword.
bool Pdf417Encoder::CompactBytes(const Pdf417Segment &segment) {
    const int length = segment.Length();
    if (!Fits(length / 6 * 5 + length % 6))
        return false;
    const auto *text = reinterpret_cast<const unsigned char *>(m_text);
    int i = segment.start;
    for (; segment.end - i >= 6; i += 6) {
        unsigned long long value = 0;
        for (int j = 0; j < 6; ++j)
            value = value << 8 | text[i + j];
        for (int j = 4; j >= 0; --j) {
            m_codewords[m_nCodewords + j] = static_cast<int>(value % 900);
            value /= 900;
        }
        m_nCodewords += 5;
    }
    for (; i < segment.end; ++i)
        Put(text[i]);
    return true;
}

// Up to 44 digits, read as the number 1 followed by them, make g / 3 + 1
// base-900 codewords.
bool Pdf417Encoder::CompactNumbers(const Pdf417Segment &segment) {
    const int length = segment.Length();
    const int rest = length % kNumericGroup;
    if (!Fits(length / kNumericGroup * 15 + (rest > 0 ? rest / 3 + 1 : 0)))
        return false;
    for (int from = segment.start; from < segment.end; from += kNumericGroup) {
        const int digits = segment.end - from < kNumericGroup ? segment.end - from : kNumericGroup;
        unsigned char number[kNumericGroup + 1];
        number[0] = 1;
        for (int i = 0; i < digits; ++i)
            number[i + 1] = static_cast<unsigned char>(m_text[from + i] - '0');
        // Long division by 900, the lowest base-900 digit first.
        const int count = digits / 3 + 1;
        int size = digits + 1;
        for (int out = count - 1; out >= 0; --out) {
            int remainder = 0, kept = 0;
            for (int i = 0; i < size; ++i) {
                const int part = remainder * 10 + number[i];
                const int quotient = part / 900;
                remainder = part % 900;
                if (kept > 0 || quotient > 0)
                    number[kept++] = static_cast<unsigned char>(quotient);
            }
            size = kept;
            m_codewords[m_nCodewords + out] = remainder;
        }
        m_nCodewords += count;
    }
    return true;
}

bool Pdf417Encoder::CompactText(const Pdf417Segment &segment) {
    int byteShifts = 0;
    TextSubValues(segment, byteShifts);
    const int subValues = static_cast<int>(m_subValues.size());
    if (!Fits((subValues + 2 * byteShifts) / 2))
        return false;
    for (int i = 0; i + 1 < subValues; i += 2) {
        if (m_subValues[i] == kShiftByte) {
            Put(kShiftByte);
            Put(m_subValues[i + 1]);
        } else {
            Put(30 * m_subValues[i] + m_subValues[i + 1]);
        }
    }
    return true;
}

// The sub-mode values of the segment's characters with the latches and
// shifts between them, padded to an even count; bytes that no sub-mode
// holds go as the pair 913, byte.
void Pdf417Encoder::TextSubValues(const Pdf417Segment &segment, int &byteShifts) {
    using namespace pdf417;
    const auto *text = reinterpret_cast<const unsigned char *>(m_text);
    std::vector<int> &out = m_subValues;
    out.clear();
    out.reserve(static_cast<size_t>(2 * segment.Length() + 1));
    auto nextTwoIn = [&](int p, unsigned char mode) {
        return p + 2 < segment.end && In(text[p + 1], mode) && In(text[p + 2], mode);
    };
    unsigned char mode = kAlpha;
    for (int p = segment.start; p < segment.end; ++p) {
        const unsigned char c = text[p];
        const int value = kTextChars[c].value;
        if (In(c, mode)) {
            out.push_back(value);
            continue;
        }
        if (kTextChars[c].modes == 0) {
            if (out.size() % 2 == 1) {
                out.push_back(kShiftPunctuation); // a pad before the byte shift
                if (mode == kPunctuation)
                    mode = kAlpha;
            }
            out.push_back(kShiftByte);
            out.push_back(c);
            ++byteShifts;
            continue;
        }
        switch (mode) {
        case kAlpha:
        case kLower:
        case kMixed: {
            const unsigned char first = mode == kLower ? kAlpha : kLower;
            const unsigned char second = mode == kMixed ? kAlpha : kMixed;
            if (In(c, first)) {
                if (mode == kLower) { // capitals: a shift, or through Mixed to Alpha for three
                    if (nextTwoIn(p, kAlpha)) {
                        out.insert(out.end(), {kLatchMixed, kLatchAlpha, value});
                        mode = kAlpha;
                    } else {
                        out.insert(out.end(), {kShiftAlpha, value});
                    }
                } else {
                    out.insert(out.end(), {kLatchLower, value});
                    mode = kLower;
                }
            } else if (In(c, second)) {
                out.insert(out.end(), {mode == kMixed ? kLatchAlpha : kLatchMixed, value});
                mode = second;
            } else if (nextTwoIn(p, kPunctuation)) {
                if (mode != kMixed)
                    out.push_back(kLatchMixed);
                out.insert(out.end(), {kLatchPunctuation, value});
                mode = kPunctuation;
            } else {
                out.insert(out.end(), {kShiftPunctuation, value});
            }
            break;
        }
        default: // Punctuation: back to Alpha, then the same character again
            out.push_back(kPunctuationToAlpha);
            mode = kAlpha;
            --p;
            break;
        }
    }
    if (out.size() % 2 == 1)
        out.push_back(kShiftPunctuation);
}
