// One fuzz target per decoder: the bytes go to the decoder as a memory
// block (GIF, PNG) or as a file (BMP, JPEG, which read files only), and the
// picture is drawn once, so a decode's result is used as a caller would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "images/BmpDecoder.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"
#include "images/PngDecoder.h"

namespace {

std::string TempFile() {
    static std::string path = [] {
        const char *dir = getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/quillbay-fuzz-" +
               std::to_string(getpid()) + ".bin";
    }();
    return path;
}

void Use(Picture &picture) {
    if (!picture.Pixels())
        return;
    picture.SetDestRect(0, 0, 3, 3);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
    HGDIOBJ old = SelectObject(dc, bitmap);
    picture.Draw(dc, TRUE, DDF_HALFTONE);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Picture picture;
    const auto length = static_cast<unsigned>(size);
#if defined(FUZZ_GIF) || defined(FUZZ_PNG)
#ifdef FUZZ_GIF
    PictureDecoder decoder = GifDecoder;
#else
    PictureDecoder decoder = PngDecoder;
#endif
    if (decoder(nullptr, &picture, DecoderMode::kProbeMemory, data, length))
        decoder(nullptr, &picture, DecoderMode::kLoadMemory, data, length);
#else
#ifdef FUZZ_BMP
    PictureDecoder decoder = BmpDecoder;
#else
    PictureDecoder decoder = JpegDecoder;
#endif
    FILE *file = fopen(TempFile().c_str(), "wb");
    if (!file)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);
    if (decoder(TempFile().c_str(), &picture, DecoderMode::kProbeFile, nullptr, 0))
        decoder(TempFile().c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0);
#endif
    Use(picture);
    return 0;
}
