#include "JpegWriter.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "images/JpegErrors.h"
#include "platform/kernel/PathRules.h"
#include "support/DiskFile.h"

namespace {

// Compresses the pixels into a new file, open on file, which it closes; 1
// only when every byte reached the file and it closed without error.
int CompressToFile(FILE *file, const unsigned char *rgb, int width, int height, int quality) {
    jpeg_compress_struct info;
    JpegErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegErrorExit;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        fclose(file);
        return 0;
    }
    jpeg_create_compress(&info);
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
    // The last bytes leave the buffer only now: a full disk shows here.
    const bool written = fflush(file) == 0 && !ferror(file);
    const bool closed = fclose(file) == 0;
    jpeg_destroy_compress(&info);
    return written && closed ? 1 : 0;
}

} // namespace

int WriteJpegFile(const char *path, const unsigned char *rgb, int width, int height, int quality) {
    if (!rgb || width <= 0 || height <= 0 || !path || !*path)
        return 0;
    // Written whole under a name of this thread's own beside the file, then
    // put in its place in one step: a reader never sees half an image, and
    // an image that cannot be written leaves the previous file as it was.
    // The part file is made new, never through a link: a file or link
    // already at its name stays as it was, and the next name is tried.
    char temporary[MAX_PATH];
    FILE *file = nullptr;
    for (unsigned attempt = 0; !file && attempt < DiskFile::kUniqueNames; ++attempt) {
        if (snprintf(temporary, sizeof temporary, "%s.%lu-%lu-%u.part", path,
                     static_cast<unsigned long>(GetCurrentProcessId()),
                     static_cast<unsigned long>(GetCurrentThreadId()), attempt) >= MAX_PATH)
            return 0;
        file = platform::CreateNewFileStream(temporary);
        if (!file && GetLastError() != ERROR_FILE_EXISTS)
            return 0;
    }
    if (!file)
        return 0;
    if (!CompressToFile(file, rgb, width, height, quality) ||
        !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return 0;
    }
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
