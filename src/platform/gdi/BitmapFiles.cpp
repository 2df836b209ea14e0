// Bitmaps from .bmp files and from modules' bitmap resources.
#include <cairo.h>
#include <cstring>
#include <string>

#include "../kernel/winbase.h"
#include "../user/winuser.h"
#include "GdiObjects.h"

namespace platform::gdi {
namespace {

// Pictures larger than this are refused rather than allocated.
constexpr long long kMostPixels = 100'000'000;

DWORD Read32(const BYTE *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }

// A channel's value scaled to 8 bits from its bit mask.
BYTE Channel(DWORD pixel, DWORD mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!(mask & (1u << shift)))
        ++shift;
    DWORD max = mask >> shift;
    DWORD value = (pixel & mask) >> shift;
    return static_cast<BYTE>(max ? (value * 255 + max / 2) / max : 0);
}

// Decodes a DIB: its header at data, its pixels at bitsOffset from data (0:
// right after the header, masks and palette). Null on anything malformed.
Bitmap *DecodeDib(const BYTE *data, size_t size, size_t bitsOffset) {
    if (size < 40)
        return nullptr;
    const DWORD headerSize = Read32(data);
    if (headerSize != 40 && headerSize != 108 && headerSize != 124)
        return nullptr;
    const auto width = static_cast<LONG>(Read32(data + 4));
    const auto rawHeight = static_cast<LONG>(Read32(data + 8));
    const WORD bits = static_cast<WORD>(data[14] | (data[15] << 8));
    const DWORD compression = Read32(data + 16);
    DWORD colours = Read32(data + 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        return nullptr;
    const bool topDown = rawHeight < 0;
    const long long height = topDown ? -static_cast<long long>(rawHeight) : rawHeight;
    if (static_cast<long long>(width) * height > kMostPixels)
        return nullptr;
    if (compression != BI_RGB && !(compression == BI_BITFIELDS && (bits == 16 || bits == 32)))
        return nullptr;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return nullptr;

    // Masks: in the V4/V5 header, or three words after the 40-byte header.
    size_t at = headerSize;
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (compression == BI_BITFIELDS) {
        size_t from = headerSize == 40 ? 40 : 40;
        if (size < from + 12)
            return nullptr;
        for (int i = 0; i < 3; ++i)
            masks[i] = Read32(data + from + 4 * static_cast<size_t>(i));
        if (headerSize == 40)
            at += 12;
    }
    const BYTE *palette = data + at;
    if (bits <= 8) {
        if (colours == 0 || colours > (1u << bits))
            colours = 1u << bits;
        if (size < at + colours * 4)
            return nullptr;
        at += colours * 4;
    }
    if (bitsOffset == 0)
        bitsOffset = at;
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    if (bitsOffset > size || (size - bitsOffset) / stride < static_cast<size_t>(height))
        return nullptr;

    auto *bitmap = new Bitmap(width, static_cast<int>(height));
    if (cairo_surface_status(bitmap->surface) != CAIRO_STATUS_SUCCESS) {
        delete bitmap;
        return nullptr;
    }
    BYTE *out = cairo_image_surface_get_data(bitmap->surface);
    const int outStride = cairo_image_surface_get_stride(bitmap->surface);
    for (long long y = 0; y < height; ++y) {
        const BYTE *row = data + bitsOffset + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
        BYTE *dst = out + static_cast<size_t>(y) * static_cast<size_t>(outStride);
        for (LONG x = 0; x < width; ++x) {
            BYTE b = 0, g = 0, r = 0;
            if (bits <= 8) {
                const unsigned shift = 8 - bits - (static_cast<unsigned>(x) * bits) % 8;
                const unsigned index = (row[static_cast<size_t>(x) * bits / 8] >> shift) & ((1u << bits) - 1);
                const BYTE *entry = palette + 4 * (index < colours ? index : 0);
                b = entry[0], g = entry[1], r = entry[2];
            } else if (bits == 24) {
                b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
            } else {
                DWORD pixel = bits == 16 ? static_cast<DWORD>(row[x * 2] | (row[x * 2 + 1] << 8))
                                         : Read32(row + x * 4);
                r = Channel(pixel, masks[0]);
                g = Channel(pixel, masks[1]);
                b = Channel(pixel, masks[2]);
            }
            dst[x * 4] = b;
            dst[x * 4 + 1] = g;
            dst[x * 4 + 2] = r;
            dst[x * 4 + 3] = 0;
        }
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
    if (!read || bytes.size() < 14 + 40 || bytes[0] != 'B' || bytes[1] != 'M')
        return nullptr;
    const auto *data = reinterpret_cast<const BYTE *>(bytes.data());
    const DWORD offBits = Read32(data + 10);
    if (offBits < 14 + 40 || offBits > bytes.size())
        return nullptr;
    Bitmap *bitmap = DecodeDib(data + 14, bytes.size() - 14, offBits - 14);
    return bitmap ? static_cast<HBITMAP>(Register(bitmap)) : nullptr;
}

} // namespace
} // namespace platform::gdi

extern "C" HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int, int, UINT fuLoad) {
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
