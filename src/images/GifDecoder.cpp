// GIF pictures: the system's own decoder, LZW included.
//
// Stages: header and logical screen; the block scan (extensions, images,
// trailer); each image's LZW data into a buffer of colour indices; the
// indices through the pixel writer into the picture or into a frame. The
// images of a GIF go straight into the picture until the first graphic
// control extension with a delay; from then on each image gets a frame of
// its own, and the frames form the ring the animation thread plays. The
// first frame is also drawn into the picture, which so shows it at load.
//
// Every read is checked against the end of the data. An image whose data is
// malformed (an index beyond its colour table, no colour table at all, a
// minimum code size above 11, a code beyond the next free one, data that
// runs past the end) is skipped: nothing of it is written, and the scan goes
// on after its data.
#include "GifDecoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "support/DiskFile.h"

namespace {

constexpr int kHeaderSize = 12;
constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeSize = 12;
constexpr DWORD kNoKey = 0xFFFFFFFF;

struct ColourTable {
    const BYTE *colours = nullptr; // red, green, blue triplets
    int entries = 0;

    DWORD Pixel(int index) const {
        const BYTE *c = colours + 3 * index;
        return (static_cast<DWORD>(c[0]) << 16) | (c[1] << 8) | c[2];
    }
};

// Reads LZW codes, least significant bit first, from the image's data
// sub-blocks.
class CodeReader {
public:
    CodeReader(const BYTE *data, size_t size, size_t position)
        : m_data(data), m_size(size), m_position(position) {}

    // The next code of `bits` bits; -1 at the block terminator or the data's end.
    int Read(int bits) {
        while (m_held < bits) {
            if (m_blockLeft == 0) {
                if (m_position >= m_size) {
                    m_overrun = true;
                    return -1;
                }
                m_blockLeft = m_data[m_position++];
                if (m_blockLeft == 0) {
                    m_terminated = true;
                    return -1;
                }
            }
            if (m_position >= m_size) {
                m_overrun = true;
                return -1;
            }
            m_accumulator |= static_cast<uint32_t>(m_data[m_position++]) << m_held;
            m_held += 8;
            --m_blockLeft;
        }
        int code = static_cast<int>(m_accumulator & ((1u << bits) - 1));
        m_accumulator >>= bits;
        m_held -= bits;
        return code;
    }

    // Moves past the rest of the sub-blocks and their terminator; false when
    // they run past the end of the data.
    bool SkipToEnd() {
        if (m_terminated)
            return true;
        m_position += static_cast<size_t>(m_blockLeft);
        m_blockLeft = 0;
        while (m_position < m_size) {
            const BYTE length = m_data[m_position++];
            if (length == 0)
                return true;
            m_position += length;
        }
        return false;
    }

    size_t Position() const { return m_position; }
    bool Overrun() const { return m_overrun; }

private:
    const BYTE *m_data;
    size_t m_size;
    size_t m_position;
    int m_blockLeft = 0;
    uint32_t m_accumulator = 0;
    int m_held = 0;
    bool m_terminated = false;
    bool m_overrun = false;
};

// The LZW table: prefix code, last byte, first byte and length per entry.
struct LzwTable {
    int16_t prefix[kMaxCodes];
    BYTE suffix[kMaxCodes];
    BYTE first[kMaxCodes];
    uint16_t length[kMaxCodes];
};

// Decodes one image's LZW data into colour indices; returns how many were
// produced, or -1 when the data is malformed. Indices beyond `capacity`
// (extra pixels) are dropped.
long DecodeLzw(CodeReader &reader, int minimumCodeSize, std::vector<BYTE> &out, size_t capacity,
               LzwTable &t) {
    if (minimumCodeSize < 1 || minimumCodeSize > 11)
        return -1;
    const int clear = 1 << minimumCodeSize, end = clear + 1;
    for (int i = 0; i < clear; ++i) {
        t.prefix[i] = -1;
        t.suffix[i] = t.first[i] = static_cast<BYTE>(i);
        t.length[i] = 1;
    }
    size_t produced = 0;
    auto output = [&](int code) {
        const size_t length = t.length[code];
        size_t at = produced + length;
        // The buffer grows with what the data gives, never beyond the image:
        // a small file cannot make it large.
        if (at > out.size() && out.size() < capacity)
            out.resize(std::min(capacity, std::max(at, out.size() * 2)));
        for (int c = code; c >= 0; c = t.prefix[c]) {
            --at;
            if (at < out.size())
                out[at] = t.suffix[c];
        }
        produced += length;
    };
    int next = clear + 2, codeSize = minimumCodeSize + 1, previous = -1;
    bool full = false;
    for (;;) {
        int code = reader.Read(codeSize);
        if (code < 0)
            return reader.Overrun() ? -1 : static_cast<long>(std::min(produced, capacity));
        if (code == clear) {
            next = clear + 2;
            codeSize = minimumCodeSize + 1;
            full = false;
            previous = -1;
            continue;
        }
        if (code == end)
            break;
        if (previous < 0) {
            // The first code after a clear is a root.
            if (code > clear)
                return -1;
            output(code);
            previous = code;
            continue;
        }
        int added = -1;
        if (code < next) {
            output(code);
            added = previous;
        } else if (code == next && !full) {
            // The previous string followed by its own first byte.
            added = previous;
        } else {
            return -1; // beyond the next free code
        }
        if (!full) {
            t.prefix[next] = static_cast<int16_t>(added);
            t.first[next] = t.first[added];
            t.suffix[next] = code < next ? t.first[code] : t.first[added];
            t.length[next] = static_cast<uint16_t>(t.length[added] + 1);
            if (code == next)
                output(code);
            if (++next == (1 << codeSize)) {
                if (codeSize < kMaxCodeSize)
                    ++codeSize;
                else
                    full = true;
            }
        }
        previous = code;
    }
    return static_cast<long>(std::min(produced, capacity));
}

// The image rows in the order the data gives them (interlaced: four passes).
std::vector<int> RowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = starts[pass]; y < height; y += steps[pass])
            rows.push_back(y);
    }
    return rows;
}

struct Descriptor {
    int left, top, width, height;
    bool interlaced;
};

class GifReader {
public:
    GifReader(Picture *picture, const BYTE *data, size_t size)
        : m_picture(picture), m_data(data), m_size(size) {}

    int Run(const BYTE *header);

private:
    bool ReadGraphicControl();
    void SkipSubBlocks();
    bool ReadImage(bool &finished);
    void WriteIndices(const Descriptor &d, const ColourTable &table, const BYTE *indices,
                      size_t count, PictureFrame *frame);
    int Finish();
    PictureFrame *AppendFrame();

    Picture *m_picture;
    const BYTE *m_data;
    size_t m_size;
    size_t m_cursor = 0;
    ColourTable m_global;
    ColourTable m_lastLocal;
    PictureFrame *m_current = nullptr;
    PictureFrame *m_last = nullptr;
    int m_transparentIndex = -1;
    std::vector<BYTE> m_indices;
    std::unique_ptr<LzwTable> m_table = std::make_unique<LzwTable>();
};

PictureFrame *GifReader::AppendFrame() {
    auto *frame = new (std::nothrow) PictureFrame;
    if (!frame)
        return nullptr;
    if (!m_picture->FirstFrame()) {
        m_picture->SetFirstFrame(frame);
    } else {
        frame->previous = m_last;
        m_last->next = frame;
    }
    m_last = frame;
    m_current = frame;
    return frame;
}

bool GifReader::ReadGraphicControl() {
    // 21 F9 04 packed delay(2) index 00
    if (m_size - m_cursor < 8)
        return false;
    const BYTE packed = m_data[m_cursor + 3];
    const BYTE disposal = (packed >> 2) & 7;
    const bool transparency = packed & 1;
    const WORD delay = static_cast<WORD>(m_data[m_cursor + 4] | (m_data[m_cursor + 5] << 8));
    AnimationState *state = m_picture->Animation();
    if (disposal == 3)
        state->needsSaveBuffer = 1;
    m_transparentIndex = transparency ? m_data[m_cursor + 6] : -1;
    if (delay != 0 || m_picture->FirstFrame()) {
        PictureFrame *frame = AppendFrame();
        if (!frame)
            return false;
        frame->disposal = disposal;
        frame->delay = delay;
        frame->keyPending = transparency;
    }
    m_cursor += 8;
    return true;
}

void GifReader::SkipSubBlocks() {
    while (m_cursor < m_size) {
        const BYTE length = m_data[m_cursor++];
        if (length == 0)
            return;
        m_cursor += length;
    }
}

void GifReader::WriteIndices(const Descriptor &d, const ColourTable &table, const BYTE *indices,
                             size_t count, PictureFrame *frame) {
    const std::vector<int> rows = RowOrder(d.height, d.interlaced);
    const int width = frame ? frame->width : m_picture->Width();
    const int height = frame ? frame->height : m_picture->Height();
    auto *target = reinterpret_cast<DWORD *>(frame ? frame->pixels : m_picture->Pixels());
    const int originX = frame ? 0 : d.left, originY = frame ? 0 : d.top;
    DWORD palette[256];
    for (int i = 0; i < table.entries && i < 256; ++i)
        palette[i] = table.Pixel(i);
    // Row by row, each row clipped to the target once.
    const int visible = std::max(0, std::min(d.width, width - originX));
    m_picture->LockPixels();
    for (size_t start = 0, r = 0; start < count; start += static_cast<size_t>(d.width), ++r) {
        const int y = originY + rows[r];
        if (y >= height)
            continue;
        DWORD *line = target + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) +
                      static_cast<size_t>(originX);
        const BYTE *source = indices + start;
        const int n =
            static_cast<int>(std::min<size_t>(static_cast<size_t>(visible), count - start));
        for (int x = 0; x < n; ++x)
            line[x] = palette[source[x]];
    }
    m_picture->UnlockPixels();
}

bool GifReader::ReadImage(bool &finished) {
    // 2C left(2) top(2) width(2) height(2) packed [local table] code size, data
    if (m_size - m_cursor < 11)
        return false;
    const BYTE *p = m_data + m_cursor + 1;
    Descriptor d{p[0] | (p[1] << 8), p[2] | (p[3] << 8), p[4] | (p[5] << 8), p[6] | (p[7] << 8),
                 (p[8] & 0x40) != 0};
    m_cursor += 10;
    ColourTable table = m_global;
    const bool empty = d.width == 0 || d.height == 0;
    if (p[8] & 0x80) {
        const int entries = 2 << (p[8] & 7);
        if (m_size - m_cursor < static_cast<size_t>(entries) * 3)
            return empty; // an image of no pixels may come without its table
        table = {m_data + m_cursor, entries};
        m_lastLocal = table;
        m_cursor += static_cast<size_t>(entries) * 3;
    } else if (!m_global.colours) {
        table = m_lastLocal; // the file's previous local table, if any
    }
    if (m_cursor >= m_size)
        return false;
    // An image of no pixels may come without any data: the next byte is then
    // already a block (no minimum code size is above 11).
    if (empty && m_data[m_cursor] > 11)
        return true;
    const int minimumCodeSize = m_data[m_cursor++];

    PictureFrame *frame = m_picture->FirstFrame() ? m_current : nullptr;
    if (frame) {
        if (frame->pixels) {
            finished = true; // a second image for one frame: the decode ends here
            return true;
        }
        // A frame keeps only the part of its image on the logical screen.
        frame->left = d.left;
        frame->top = d.top;
        frame->width = std::max(0, std::min(d.width, m_picture->Width() - d.left));
        frame->height = std::max(0, std::min(d.height, m_picture->Height() - d.top));
        const size_t block =
            static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height) * 4;
        frame->pixels = new (std::nothrow) BYTE[block ? block : 4]();
        if (!frame->pixels) {
            finished = true;
            return true;
        }
        if (frame->keyPending)
            frame->transparentKey = m_transparentIndex >= 0 && m_transparentIndex < table.entries
                                        ? table.Pixel(m_transparentIndex)
                                        : kNoKey;
    }

    const size_t pixels = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
    CodeReader reader(m_data, m_size, m_cursor);
    m_indices.clear();
    long count = pixels ? DecodeLzw(reader, minimumCodeSize, m_indices, pixels, *m_table) : 0;
    if (!reader.SkipToEnd())
        return false; // the image's data runs past the end
    m_cursor = reader.Position();
    bool valid = count >= 0 && table.colours;
    if (valid && table.entries < 256) {
        BYTE highest = 0;
        for (long i = 0; i < count; ++i)
            highest = std::max(highest, m_indices[static_cast<size_t>(i)]);
        valid = highest < table.entries;
    }
    if (valid && count > 0)
        WriteIndices(d, table, m_indices.data(), static_cast<size_t>(count), frame);
    // The picture shows the first frame, as every viewer shows an animation
    // before it moves: a print of it is the first image, not its background.
    if (frame && frame == m_picture->FirstFrame())
        m_picture->ComposeFrame(*frame);
    return true;
}

int GifReader::Finish() {
    if (PictureFrame *first = m_picture->FirstFrame()) {
        m_last->next = first;
        first->previous = m_last;
        m_picture->StartAnimation();
    }
    return 1;
}

int GifReader::Run(const BYTE *header) {
    // The data starts with the pixel-aspect byte; the global table follows.
    const BYTE flags = header[10];
    m_cursor = 1;
    if (flags & 0x80) {
        const int entries = 2 << (flags & 7);
        if (m_size < 1 + static_cast<size_t>(entries) * 3)
            return 0;
        m_global = {m_data + 1, entries};
        m_cursor += static_cast<size_t>(entries) * 3;
        // A background index beyond the table fills nothing.
        if (header[11] < entries) {
            const DWORD pixel = m_global.Pixel(header[11]);
            m_picture->FillAll(static_cast<BYTE>(pixel), static_cast<BYTE>(pixel >> 8),
                               static_cast<BYTE>(pixel >> 16));
            m_picture->Animation()->background = pixel;
        }
    }
    for (;;) {
        if (m_cursor >= m_size)
            return 0; // no trailer
        const BYTE byte = m_data[m_cursor];
        if (byte == 0x3B)
            return Finish();
        if (byte == 0x2C) {
            bool finished = false;
            if (!ReadImage(finished))
                return 0;
            if (finished)
                return 1;
            continue;
        }
        if (byte != 0x21 || m_cursor + 1 >= m_size) {
            ++m_cursor;
            continue;
        }
        switch (m_data[m_cursor + 1]) {
        case 0xF9:
            if (!ReadGraphicControl())
                return 0;
            break;
        case 0xFE:
            // A comment's text is skipped as the sub-blocks it is made of,
            // so its bytes are never taken for blocks of the file.
            m_cursor += 2;
            SkipSubBlocks();
            break;
        case 0xFF:
            // Introducer, label, size and the 11-byte identifier, then the
            // data's sub-blocks, skipped as sub-blocks: their bytes are not
            // blocks of the file.
            m_cursor += 14;
            SkipSubBlocks();
            break;
        default:
            ++m_cursor; // go on at the label
            break;
        }
    }
}

} // namespace

int GifDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned size) {
    const unsigned operation = mode & 0xFFFF;
    if (operation == DecoderMode::kQueryExtension)
        return DecoderMode::AnswerExtension(data, "gif");
    if (operation != DecoderMode::kLoadFile && operation != DecoderMode::kProbeFile)
        return 0;
    if (!picture->Animation())
        return 0;
    const bool inMemory = (mode & DecoderMode::kMemory) != 0;
    BYTE header[kHeaderSize] = {};
    DiskFile file;
    if (inMemory) {
        if (!data || size < kHeaderSize)
            return 0;
        memcpy(header, data, kHeaderSize);
    } else {
        if (!path || !file.Open(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL))
            return 0;
        file.Read(header, kHeaderSize, FALSE, nullptr);
    }
    if (memcmp(header, "GIF8", 4) != 0 || header[5] != 'a')
        return 0;
    if (operation == DecoderMode::kProbeFile)
        return 1;

    const int width = header[6] | (header[7] << 8), height = header[8] | (header[9] << 8);
    if (!picture->Create(width, height))
        return 0;
    std::vector<BYTE> bytes;
    const BYTE *rest;
    size_t restSize;
    if (inMemory) {
        rest = static_cast<const BYTE *>(data) + kHeaderSize;
        restSize = size - kHeaderSize;
    } else {
        const DWORD total = file.GetSize();
        if (total <= kHeaderSize)
            return 0;
        bytes.resize(total - kHeaderSize);
        file.Seek(kHeaderSize, FILE_BEGIN);
        if (!file.Read(bytes.data(), static_cast<DWORD>(bytes.size()), TRUE, nullptr))
            return 0;
        file.Close();
        rest = bytes.data();
        restSize = bytes.size();
    }
    return GifReader(picture, rest, restSize).Run(header);
}
