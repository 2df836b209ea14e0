// Bitmaps from .bmp files and from modules' bitmap resources.
//
// A DIB is read in stages: its header (OS/2 core, 40-byte, V2 to V5), its
// colour masks and palette, then its pixels, uncompressed or run-length
// encoded (RLE8, RLE4). Every read is checked against the data's end, and
// nothing is written outside the bitmap: pixels that runs, deltas or an
// early end leave out keep the palette's index 0, as the platform shows them.
#include <algorithm>
#include <cairo.h>
#include <cstring>
#include <string>
#include <vector>

#include "../kernel/winbase.h"
#include "../user/winuser.h"
#include "GdiObjects.h"

namespace platform::gdi {
namespace {

// Pictures larger than this are refused rather than allocated.
constexpr long long kMostPixels = 100'000'000;
// Compression codes beside BI_RGB, BI_RLE8, BI_RLE4 and BI_BITFIELDS.
constexpr DWORD kAlphaBitfields = 6;
// The OS/2 core header (BITMAPCOREHEADER) is 12 bytes long.
constexpr DWORD kCoreHeader = 12;

DWORD Read32(const BYTE *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}
WORD Read16(const BYTE *p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

// A channel's value scaled to 8 bits from its bit mask.
BYTE Channel(DWORD pixel, DWORD mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!(mask & (1u << shift)))
        ++shift;
    const unsigned long long max = mask >> shift;
    const unsigned long long value = (pixel & mask) >> shift;
    return static_cast<BYTE>((value * 255 + max / 2) / max);
}

// What the header says, and where the parts of the DIB are.
struct Dib {
    const BYTE *data = nullptr;
    size_t size = 0;
    LONG width = 0;
    long long height = 0;
    bool topDown = false;
    WORD bits = 0;
    DWORD compression = BI_RGB;
    DWORD masks[3] = {0, 0, 0};
    std::vector<DWORD> palette; // 0x00RRGGBB
    size_t bitsOffset = 0;
};

// The header's fields; false for a header or a form this loader refuses.
bool ReadHeader(Dib &dib, DWORD &colours, size_t &at) {
    const BYTE *data = dib.data;
    const DWORD headerSize = Read32(data);
    WORD planes;
    if (headerSize == kCoreHeader) {
        dib.width = Read16(data + 4);
        dib.height = static_cast<SHORT>(Read16(data + 6));
        planes = Read16(data + 8);
        dib.bits = Read16(data + 10);
        colours = 0;
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 ||
               headerSize == 124) {
        if (dib.size < headerSize)
            return false;
        dib.width = static_cast<LONG>(Read32(data + 4));
        const auto rawHeight = static_cast<LONG>(Read32(data + 8));
        if (rawHeight == INT32_MIN)
            return false;
        dib.height = rawHeight;
        planes = Read16(data + 12);
        dib.bits = Read16(data + 14);
        dib.compression = Read32(data + 16);
        colours = Read32(data + 32);
    } else {
        return false;
    }
    dib.topDown = dib.height < 0;
    if (dib.topDown)
        dib.height = -dib.height;
    at = headerSize;
    return planes == 1 && dib.width > 0 && dib.height > 0 &&
           static_cast<long long>(dib.width) * dib.height <= kMostPixels;
}

// Whether the bit depth and the compression go together.
bool KnownForm(const Dib &dib) {
    switch (dib.compression) {
    case BI_RGB:
        return dib.bits == 1 || dib.bits == 4 || dib.bits == 8 || dib.bits == 16 ||
               dib.bits == 24 || dib.bits == 32;
    case BI_RLE8:
        return dib.bits == 8 && !dib.topDown; // run-length bitmaps are bottom-up only
    case BI_RLE4:
        return dib.bits == 4 && !dib.topDown;
    case BI_BITFIELDS:
    case kAlphaBitfields:
        return dib.bits == 16 || dib.bits == 32;
    default:
        return false; // JPEG, PNG, Huffman and RLE24 are printers' forms
    }
}

// The colour masks: defaults, inside a V2 or later header, or after the
// 40-byte header (three, or four with alpha).
bool ReadMasks(Dib &dib, DWORD headerSize, size_t &at) {
    if (dib.bits == 32) {
        dib.masks[0] = 0xFF0000, dib.masks[1] = 0xFF00, dib.masks[2] = 0xFF;
    } else {
        dib.masks[0] = 0x7C00, dib.masks[1] = 0x03E0, dib.masks[2] = 0x001F;
    }
    if (dib.compression != BI_BITFIELDS && dib.compression != kAlphaBitfields)
        return true;
    if (dib.size < 40 + 12)
        return false;
    for (size_t i = 0; i < 3; ++i)
        dib.masks[i] = Read32(dib.data + 40 + 4 * i);
    if (headerSize == 40)
        at += dib.compression == kAlphaBitfields ? 16 : 12;
    return true;
}

// The palette: RGBQUADs, or RGBTRIPLEs after a core header, as many as the
// header says (all the depth allows when it says 0, or more than that).
bool ReadPalette(Dib &dib, DWORD colours, bool core, size_t at) {
    const size_t entry = core ? 3 : 4;
    if (dib.bits > 8) {
        // A true-colour bitmap's palette is not used; only skipped when
        // nothing says where the pixels start.
        if (dib.bitsOffset == 0 && (dib.size < at || (dib.size - at) / entry < colours))
            return false;
        if (dib.bitsOffset == 0)
            dib.bitsOffset = at + colours * entry;
        return dib.bitsOffset <= dib.size;
    }
    if (colours == 0 || colours > (1u << dib.bits))
        colours = 1u << dib.bits;
    // An OS/2 palette may be shorter: the pixels' offset says where it ends.
    if (core && dib.bitsOffset > at && (dib.bitsOffset - at) / entry < colours)
        colours = static_cast<DWORD>((dib.bitsOffset - at) / entry);
    if (dib.size < at || (dib.size - at) / entry < colours)
        return false;
    for (DWORD i = 0; i < colours; ++i) {
        const BYTE *p = dib.data + at + entry * i;
        dib.palette.push_back(static_cast<DWORD>(p[2] << 16 | p[1] << 8 | p[0]));
    }
    if (dib.bitsOffset == 0)
        dib.bitsOffset = at + colours * entry;
    return dib.bitsOffset <= dib.size;
}

DWORD PaletteColour(const Dib &dib, unsigned index) {
    return dib.palette.empty() ? 0 : dib.palette[index < dib.palette.size() ? index : 0];
}

// One uncompressed row into 0x00RRGGBB pixels.
void ConvertRow(const Dib &dib, const BYTE *row, DWORD *out) {
    for (LONG x = 0; x < dib.width; ++x) {
        if (dib.bits <= 8) {
            const unsigned shift = 8 - dib.bits - (static_cast<unsigned>(x) * dib.bits) % 8;
            const unsigned index =
                (row[static_cast<size_t>(x) * dib.bits / 8] >> shift) & ((1u << dib.bits) - 1);
            out[x] = PaletteColour(dib, index);
        } else if (dib.bits == 24) {
            out[x] = static_cast<DWORD>(row[x * 3 + 2] << 16 | row[x * 3 + 1] << 8 | row[x * 3]);
        } else {
            const DWORD pixel = dib.bits == 16 ? Read16(row + x * 2) : Read32(row + x * 4);
            out[x] = static_cast<DWORD>(Channel(pixel, dib.masks[0]) << 16 |
                                        Channel(pixel, dib.masks[1]) << 8 |
                                        Channel(pixel, dib.masks[2]));
        }
    }
}

// Uncompressed rows, into the surface's top-down rows.
bool DecodeRows(const Dib &dib, BYTE *out, size_t outStride) {
    const size_t stride = ((static_cast<size_t>(dib.width) * dib.bits + 31) / 32) * 4;
    if ((dib.size - dib.bitsOffset) / stride < static_cast<size_t>(dib.height))
        return false;
    for (long long y = 0; y < dib.height; ++y) {
        const long long stored = dib.topDown ? y : dib.height - 1 - y;
        ConvertRow(dib, dib.data + dib.bitsOffset + stride * static_cast<size_t>(stored),
                   reinterpret_cast<DWORD *>(out + static_cast<size_t>(y) * outStride));
    }
    return true;
}

} // namespace

namespace {

// Run-length encoded pixels (BI_RLE8, BI_RLE4). Rows count from the bottom.
class RleDecoder {
public:
    RleDecoder(const Dib &dib, BYTE *out, size_t outStride)
        : m_dib(dib), m_out(out), m_stride(outStride), m_rle4(dib.compression == BI_RLE4) {}

    void Decode() {
        Fill();
        size_t at = m_dib.bitsOffset;
        const size_t end = m_dib.size;
        while (at + 2 <= end && m_y < m_dib.height) {
            const BYTE count = m_dib.data[at], value = m_dib.data[at + 1];
            at += 2;
            if (count > 0) {
                for (int i = 0; i < count; ++i) // an encoded run: one byte, repeated
                    Put(m_rle4 ? (i % 2 ? value & 0x0F : value >> 4) : value);
            } else if (value == 0) { // end of line
                m_x = 0;
                ++m_y;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // delta: right and up
                if (at + 2 > end)
                    break;
                m_x += m_dib.data[at];
                m_y += m_dib.data[at + 1];
                at += 2;
            } else if (!Absolute(value, at)) {
                break;
            }
        }
    }

private:
    // Every pixel starts as the palette's index 0.
    void Fill() {
        const DWORD colour = PaletteColour(m_dib, 0);
        for (long long y = 0; y < m_dib.height; ++y) {
            auto *row = reinterpret_cast<DWORD *>(m_out + static_cast<size_t>(y) * m_stride);
            std::fill(row, row + m_dib.width, colour);
        }
    }

    // An absolute run of `count` pixels, padded to a whole 16-bit word.
    bool Absolute(int count, size_t &at) {
        const size_t bytes =
            m_rle4 ? (static_cast<size_t>(count) + 1) / 2 : static_cast<size_t>(count);
        if (at + bytes > m_dib.size)
            return false;
        for (int i = 0; i < count; ++i) {
            const BYTE b =
                m_dib.data[at + (m_rle4 ? static_cast<size_t>(i) / 2 : static_cast<size_t>(i))];
            Put(m_rle4 ? (i % 2 ? b & 0x0F : b >> 4) : b);
        }
        at += bytes + (bytes & 1);
        return true;
    }

    // One pixel at the cursor; the cursor moves on even outside the bitmap.
    void Put(unsigned index) {
        if (m_x < m_dib.width && m_y < m_dib.height) {
            auto *row = reinterpret_cast<DWORD *>(
                m_out + static_cast<size_t>(m_dib.height - 1 - m_y) * m_stride);
            row[m_x] = PaletteColour(m_dib, index);
        }
        ++m_x;
    }

    const Dib &m_dib;
    BYTE *m_out;
    size_t m_stride;
    bool m_rle4;
    long long m_x = 0, m_y = 0;
};

// Decodes a DIB: its header at data, its pixels at bitsOffset from data (0:
// right after the header, masks and palette). Null on anything malformed.
Bitmap *DecodeDib(const BYTE *data, size_t size, size_t bitsOffset) {
    if (size < kCoreHeader)
        return nullptr;
    Dib dib;
    dib.data = data;
    dib.size = size;
    dib.bitsOffset = bitsOffset;
    DWORD colours = 0;
    size_t at = 0;
    const DWORD headerSize = Read32(data);
    if (!ReadHeader(dib, colours, at) || !KnownForm(dib) || !ReadMasks(dib, headerSize, at) ||
        !ReadPalette(dib, colours, headerSize == kCoreHeader, at))
        return nullptr;
    auto *bitmap = new Bitmap(dib.width, static_cast<int>(dib.height));
    if (cairo_surface_status(bitmap->surface) != CAIRO_STATUS_SUCCESS) {
        delete bitmap;
        return nullptr;
    }
    BYTE *out = bitmap->Pixels();
    const auto outStride = static_cast<size_t>(cairo_image_surface_get_stride(bitmap->surface));
    if (dib.compression == BI_RLE8 || dib.compression == BI_RLE4) {
        RleDecoder(dib, out, outStride).Decode();
    } else if (!DecodeRows(dib, out, outStride)) {
        delete bitmap;
        return nullptr;
    }
    cairo_surface_mark_dirty(bitmap->surface);
    return bitmap;
}

HBITMAP FromResource(HINSTANCE module, LPCSTR name) {
    HRSRC info = FindResourceA(module, name, RT_BITMAP);
    if (!info)
        return nullptr;
    const auto *data = static_cast<const BYTE *>(LockResource(LoadResource(module, info)));
    Bitmap *bitmap = data ? DecodeDib(data, SizeofResource(module, info), 0) : nullptr;
    return bitmap ? static_cast<HBITMAP>(Register(bitmap)) : nullptr;
}

HBITMAP FromFile(LPCSTR path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD size = GetFileSize(file, nullptr);
    std::string bytes(size == INVALID_FILE_SIZE ? 0 : size, '\0');
    DWORD got = 0;
    bool read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                got == bytes.size();
    CloseHandle(file);
    if (!read || bytes.size() < 14 + kCoreHeader || bytes[0] != 'B' || bytes[1] != 'M')
        return nullptr;
    const auto *data = reinterpret_cast<const BYTE *>(bytes.data());
    const DWORD offBits = Read32(data + 10);
    if (offBits < 14 + kCoreHeader || offBits > bytes.size())
        return nullptr;
    Bitmap *bitmap = DecodeDib(data + 14, bytes.size() - 14, offBits - 14);
    return bitmap ? static_cast<HBITMAP>(Register(bitmap)) : nullptr;
}

} // namespace
} // namespace platform::gdi

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int, int,
                                    UINT fuLoad) {
    if (type != IMAGE_BITMAP || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HBITMAP bitmap = (fuLoad & LR_LOADFROMFILE) ? platform::gdi::FromFile(name)
                                                : platform::gdi::FromResource(hInst, name);
    if (!bitmap)
        SetLastError(ERROR_INVALID_DATA);
    return bitmap;
}

extern "C" HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName) {
    return platform::gdi::FromResource(hInstance, lpBitmapName);
}
