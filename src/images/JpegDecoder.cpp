// JPEG pictures through libjpeg, from files only.
//
// Colour images come out as RGB, grey ones as grey copied to all three;
// CMYK and YCCK images are converted to RGB. The probe decodes the whole
// file; the load that follows it for the same unchanged file takes the
// probe's result instead of decoding again.
#include "JpegDecoder.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <jerror.h>
#include <jpeglib.h>

#include "JpegErrors.h"
#include "platform/kernel/PathRules.h"

namespace {

// A grey or CMYK row as R G B.
void CopyRow(const jpeg_decompress_struct &info, const JSAMPLE *row, unsigned char *out) {
    const JDIMENSION width = info.output_width;
    if (info.output_components == 1) {
        for (JDIMENSION x = 0; x < width; ++x)
            out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = row[x];
    } else if (info.output_components == 4) {
        // CMYK (YCCK comes out as CMYK too). Adobe's files store the inks
        // inverted.
        const bool inverted = info.saw_Adobe_marker;
        for (JDIMENSION x = 0; x < width; ++x) {
            int c = row[x * 4], m = row[x * 4 + 1], y = row[x * 4 + 2], k = row[x * 4 + 3];
            if (!inverted) {
                c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            }
            out[x * 3] = static_cast<unsigned char>(c * k / 255);
            out[x * 3 + 1] = static_cast<unsigned char>(m * k / 255);
            out[x * 3 + 2] = static_cast<unsigned char>(y * k / 255);
        }
    }
}

unsigned char *Decode(FILE *file, int *width, int *height) {
    jpeg_decompress_struct info;
    JpegErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegErrorExit;
    unsigned char *volatile buffer = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        free(buffer);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    // Refused before libjpeg allocates for it.
    if (static_cast<size_t>(info.image_width) * info.image_height >
        static_cast<size_t>(Picture::kMostPixels))
        ERREXIT(&info, JERR_OUT_OF_MEMORY);
    jpeg_start_decompress(&info);
    const size_t pixels = static_cast<size_t>(info.output_width) * info.output_height;
    buffer = static_cast<unsigned char *>(malloc(pixels * 3));
    if (!buffer)
        ERREXIT(&info, JERR_OUT_OF_MEMORY);
    *width = static_cast<int>(info.output_width);
    *height = static_cast<int>(info.output_height);
    const size_t stride = static_cast<size_t>(info.output_width) * 3;
    if (info.output_components == 3) {
        // RGB rows go straight into the buffer.
        while (info.output_scanline < info.output_height) {
            JSAMPROW out = buffer + info.output_scanline * stride;
            jpeg_read_scanlines(&info, &out, 1);
        }
    } else {
        JSAMPARRAY row =
            (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                      info.output_width * info.output_components, 1);
        while (info.output_scanline < info.output_height) {
            jpeg_read_scanlines(&info, row, 1);
            CopyRow(info, row[0], buffer + (info.output_scanline - 1) * stride);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return buffer;
}

// R G B bytes to the picture's 0x00RRGGBB pixels, for a row whose buffer
// ends at `end`. Four bytes are read at a time (R G B and the next pixel's
// R, little-endian) and byte-swapped, which puts R, G, B in place above the
// stray byte shifted out; a pixel with no byte after it is read bytewise.
void RgbToPixels(const unsigned char *row, DWORD *line, int width, const unsigned char *end) {
    int x = 0;
    for (; x < width && row + x * 3 + 4 <= end; ++x) {
        std::uint32_t v;
        memcpy(&v, row + x * 3, sizeof v);
        line[x] = __builtin_bswap32(v) >> 8;
    }
    for (; x < width; ++x)
        line[x] = (static_cast<DWORD>(row[x * 3]) << 16) | (row[x * 3 + 1] << 8) | row[x * 3 + 2];
}

#if defined(__x86_64__)
// The same four pixels at a time with one byte shuffle, where the processor
// has it; the rest of the row as above.
__attribute__((target("ssse3"))) void RgbToPixelsShuffled(const unsigned char *row, DWORD *line,
                                                          int width, const unsigned char *end) {
    const __m128i order =
        _mm_setr_epi8(2, 1, 0, -128, 5, 4, 3, -128, 8, 7, 6, -128, 11, 10, 9, -128);
    int x = 0;
    for (; x + 4 <= width && row + x * 3 + 16 <= end; x += 4) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(line + x), _mm_shuffle_epi8(rgb, order));
    }
    RgbToPixels(row + x * 3, line + x, width - x, end);
}
#endif

// The shuffle where the processor has it, the portable loop everywhere else;
// QUILLBAY_NO_SIMD (any value) takes the portable loop on any processor, so
// that one machine's tests check both.
void RgbRowToPixels(const unsigned char *row, DWORD *line, int width, const unsigned char *end) {
#if defined(__x86_64__)
    static const bool shuffle = __builtin_cpu_supports("ssse3") && !getenv("QUILLBAY_NO_SIMD");
    if (shuffle)
        return RgbToPixelsShuffled(row, line, width, end);
#endif
    RgbToPixels(row, line, width, end);
}

// The probe's decode, kept for the load that follows it.
struct LastDecode {
    std::string path;
    FILETIME written{};
    DWORD size = 0;
    unsigned char *rgb = nullptr;
    int width = 0;
    int height = 0;
};

LastDecode &Last() {
    static LastDecode last;
    return last;
}

bool Stamp(const char *path, FILETIME &written, DWORD &size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    written = data.ftLastWriteTime;
    size = data.nFileSizeLow;
    return true;
}

void Forget() {
    free(Last().rgb);
    Last() = LastDecode{};
}

} // namespace

unsigned char *ReadJpegFile(const char *path, int *width, int *height) {
    *width = *height = 0;
    // The C library opens it by the file system's name for the ANSI path.
    FILE *file = fopen(platform::FileSystemPath(path).c_str(), "rb");
    if (!file)
        return nullptr;
    unsigned char *rgb = Decode(file, width, height);
    fclose(file);
    if (!rgb)
        *width = *height = 0;
    return rgb;
}

int JpegDecoder(const char *path, Picture *picture, unsigned mode, const void *data, unsigned) {
    const unsigned operation = mode & 0xFFFF;
    if (operation == DecoderMode::kQueryExtension)
        return DecoderMode::AnswerExtension(data, "jpg");
    if ((mode & DecoderMode::kMemory) || !path || !*path)
        return 0;
    FILETIME written{};
    DWORD size = 0;
    const bool stamped = Stamp(path, written, size);
    LastDecode &last = Last();
    const bool reuse = stamped && last.rgb && last.path == path && last.size == size &&
                       memcmp(&last.written, &written, sizeof written) == 0;
    int width = 0, height = 0;
    unsigned char *rgb = nullptr;
    if (reuse) {
        rgb = last.rgb;
        width = last.width;
        height = last.height;
        last.rgb = nullptr;
    } else {
        rgb = ReadJpegFile(path, &width, &height);
    }
    Forget();
    if (!rgb)
        return 0;
    if (operation == DecoderMode::kProbeFile) {
        if (stamped) {
            last.path = path;
            last.written = written;
            last.size = size;
            last.rgb = rgb;
            last.width = width;
            last.height = height;
        } else {
            free(rgb);
        }
        return 1;
    }
    if (operation != DecoderMode::kLoadFile || !picture->Create(width, height)) {
        free(rgb);
        return 0;
    }
    auto *pixels = reinterpret_cast<DWORD *>(picture->Pixels());
    picture->LockPixels();
    const size_t stride = static_cast<size_t>(width) * 3;
    const unsigned char *end = rgb + stride * static_cast<size_t>(height);
    for (int y = 0; y < height; ++y)
        RgbRowToPixels(rgb + stride * static_cast<size_t>(y), pixels + picture->IndexOf(0, y),
                       width, end);
    picture->UnlockPixels();
    free(rgb);
    return 1;
}
