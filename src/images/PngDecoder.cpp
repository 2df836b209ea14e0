// PNG pictures through libpng.
//
// Palette images become RGB (RGBA with tRNS), grey images below 8 bits
// 8-bit grey, tRNS an alpha channel; 16-bit samples keep their high byte.
#include "PngDecoder.h"

#include <csetjmp>
#include <cstring>
#include <png.h>

#include "support/DiskFile.h"

namespace {

constexpr int kSignatureSize = 8;

// A block of memory read as a PNG stream.
struct MemorySource {
    const BYTE *start;
    size_t size;
    size_t position;
};

void PngMemoryRead(png_structp png, png_bytep out, png_size_t count) {
    auto *source = static_cast<MemorySource *>(png_get_io_ptr(png));
    if (count > source->size - source->position) {
        if (count != 0)
            png_error(png, "Read Error");
        return;
    }
    memcpy(out, source->start + source->position, count);
    source->position += count;
}

void PngFileRead(png_structp png, png_bytep out, png_size_t count) {
    auto *file = static_cast<DiskFile *>(png_get_io_ptr(png));
    DWORD got = 0;
    if (count && !file->Read(out, static_cast<DWORD>(count), TRUE, &got))
        png_error(png, "Read Error");
}

// Converts libpng's rows to the picture's layout, the first PNG row at the top.
void StoreRows(Picture *picture, png_bytepp rows, int colourType) {
    const int width = picture->Width(), height = picture->Height();
    auto *pixels = reinterpret_cast<DWORD *>(picture->Pixels());
    picture->LockPixels();
    for (int y = 0; y < height; ++y) {
        const png_bytep row = rows[y];
        DWORD *line = pixels + picture->IndexOf(0, y);
        for (int x = 0; x < width; ++x) {
            switch (colourType) {
            case PNG_COLOR_TYPE_GRAY:
                line[x] = row[x] * 0x010101u;
                break;
            case PNG_COLOR_TYPE_RGB:
                line[x] = (line[x] & 0xFF000000u) | (static_cast<DWORD>(row[x * 3]) << 16) |
                          (row[x * 3 + 1] << 8) | row[x * 3 + 2];
                break;
            case PNG_COLOR_TYPE_GRAY_ALPHA:
                line[x] = row[x * 2] * 0x010101u | (static_cast<DWORD>(row[x * 2 + 1]) << 24);
                break;
            case PNG_COLOR_TYPE_RGB_ALPHA:
                line[x] = (static_cast<DWORD>(row[x * 4 + 3]) << 24) |
                          (static_cast<DWORD>(row[x * 4]) << 16) | (row[x * 4 + 1] << 8) |
                          row[x * 4 + 2];
                break;
            default:
                break;
            }
        }
    }
    picture->UnlockPixels();
}

// libpng's messages are not kept: an error ends the decode, a warning is let go.
void SilentError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void SilentWarning(png_structp, png_const_charp) {}

int Decode(Picture *picture, DiskFile *file, MemorySource *memory) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning);
    if (!png)
        return 0;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return 0;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return 0;
    }
    if (memory)
        png_set_read_fn(png, memory, PngMemoryRead);
    else
        png_set_read_fn(png, file, PngFileRead);
    png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16, nullptr);
    const int width = static_cast<int>(png_get_image_width(png, info));
    const int height = static_cast<int>(png_get_image_height(png, info));
    if (picture->Create(width, height))
        StoreRows(picture, png_get_rows(png, info), png_get_color_type(png, info));
    png_destroy_read_struct(&png, &info, nullptr);
    return 1;
}

} // namespace

int PngDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned size) {
    const unsigned operation = mode & 0xFFFF;
    if (operation == DecoderMode::kQueryExtension)
        return DecoderMode::AnswerExtension(data, "png");
    BYTE signature[kSignatureSize] = {};
    DiskFile file;
    MemorySource memory{static_cast<const BYTE *>(data), size, 0};
    const bool inMemory = (mode & DecoderMode::kMemory) != 0;
    if (inMemory) {
        if (!data || size < kSignatureSize)
            return 0;
        memcpy(signature, data, kSignatureSize);
    } else {
        if (!path ||
            !file.Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       FILE_ATTRIBUTE_NORMAL) ||
            !file.Read(signature, kSignatureSize, TRUE, nullptr))
            return 0;
    }
    if (png_sig_cmp(signature, 0, kSignatureSize) != 0)
        return 0;
    if (operation == DecoderMode::kProbeFile)
        return 1;
    if (operation != DecoderMode::kLoadFile)
        return 0;
    // The size from the header comes first: a picture the system refuses
    // (Create fails) is not decoded at all, so a small file cannot make
    // libpng allocate gigabytes. The decoder succeeds with the picture
    // empty, as when Create fails after decoding.
    BYTE header[16] = {};
    bool sized =
        inMemory ? size >= kSignatureSize + 16 && memcpy(header, memory.start + kSignatureSize, 16)
                 : file.Read(header, 16, TRUE, nullptr);
    if (sized && memcmp(header + 4, "IHDR", 4) == 0) {
        // Two 32-bit sizes: their product fits an unsigned 64-bit value.
        const unsigned long long width = (static_cast<unsigned long long>(header[8]) << 24) |
                                         (header[9] << 16) | (header[10] << 8) | header[11];
        const unsigned long long height = (static_cast<unsigned long long>(header[12]) << 24) |
                                          (header[13] << 16) | (header[14] << 8) | header[15];
        if (width * height > static_cast<unsigned long long>(Picture::kMostPixels)) {
            picture->Create(0, 0);
            return 1;
        }
    }
    if (!inMemory)
        file.SeekToBegin(); // libpng reads the signature again itself
    return Decode(picture, inMemory ? nullptr : &file, inMemory ? &memory : nullptr);
}
