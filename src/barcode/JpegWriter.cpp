#include "JpegWriter.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "images/JpegErrors.h"
#include "platform/kernel/PathRules.h"

int WriteJpegFile(const char *path, const unsigned char *rgb, int width, int height, int quality) {
    if (!rgb || width <= 0 || height <= 0 || !path)
        return 0;
    jpeg_compress_struct info;
    JpegErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegErrorExit;
    FILE *volatile file = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        if (file)
            fclose(file);
        return 0;
    }
    jpeg_create_compress(&info);
    // The C library opens it by the file system's name for the ANSI path.
    file = fopen(platform::FileSystemPath(path).c_str(), "wb");
    if (!file) {
        jpeg_destroy_compress(&info);
        return 0;
    }
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb + static_cast<size_t>(width) * 3 * info.next_scanline);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    fclose(file);
    jpeg_destroy_compress(&info);
    return 1;
}

int SaveBarcodeJpeg(const char *path, const Picture *picture, int quality) {
    if (!path || !*path || !picture || !picture->Pixels())
        return 0;
    const int width = picture->Width(), height = picture->Height();
    std::vector<unsigned char> rgb;
    try {
        rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    const auto *pixels = picture->Pixels();
    for (int y = 0; y < height; ++y) {
        const unsigned char *row = pixels + picture->IndexOf(0, y) * 4;
        unsigned char *out = &rgb[static_cast<size_t>(y) * static_cast<size_t>(width) * 3];
        for (int x = 0; x < width; ++x) {
            out[x * 3] = row[x * 4 + 2];
            out[x * 3 + 1] = row[x * 4 + 1];
            out[x * 3 + 2] = row[x * 4];
        }
    }
    return WriteJpegFile(path, rgb.data(), width, height, quality);
}
