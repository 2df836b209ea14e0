// Decoding pictures: the system's GIF decoder against giflib (composited on
// the background, as a picture shows it), and the PNG and JPEG decoders'
// loads against a bare libpng or libjpeg decode of the same file. Inputs are
// made by the reference libraries themselves.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <memory>
#include <png.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "barcode/JpegWriter.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"
#include "images/PngDecoder.h"

namespace {

constexpr int kSide = 2000;

std::string TempPath(const char *name) { return "/tmp/quillbay-bench-" + std::to_string(getpid()) + "-" + name; }

std::string ReadAll(const std::string &path) {
    std::string bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, n);
        fclose(f);
    }
    return bytes;
}

BYTE Pattern(int x, int y) { return static_cast<BYTE>(((x / 7) ^ (y / 5)) * 37 + (x * y) / 97); }

// A GIF of `frames` images of side x side pixels, 256 colours, written by giflib.
std::string MakeGif(int side, int frames) {
    const std::string path = TempPath("bench.gif");
    int error = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 3)};
    ColorMapObject *map = GifMakeMapObject(256, colours);
    EGifPutScreenDesc(gif, side, side, 8, 0, map);
    std::vector<GifPixelType> line(static_cast<size_t>(side));
    for (int f = 0; f < frames; ++f) {
        if (frames > 1) {
            GifByteType control[4] = {0x08, 5, 0, 0}; // disposal 2, 5/100 s
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
        }
        EGifPutImageDesc(gif, 0, 0, side, side, false, nullptr);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x)
                line[static_cast<size_t>(x)] = Pattern(x + f * 3, y);
            EGifPutLine(gif, line.data(), side);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    std::string bytes = ReadAll(path);
    unlink(path.c_str());
    return bytes;
}

struct MemoryInput {
    const std::string *bytes;
    size_t position;
};

int ReadMemory(GifFileType *gif, GifByteType *out, int count) {
    auto *in = static_cast<MemoryInput *>(gif->UserData);
    size_t n = std::min(static_cast<size_t>(count), in->bytes->size() - in->position);
    memcpy(out, in->bytes->data() + in->position, n);
    in->position += n;
    return static_cast<int>(n);
}

// giflib's decode, every image composited onto a 32-bit canvas.
void GiflibDecode(const std::string &bytes, std::vector<uint32_t> &canvas) {
    MemoryInput input{&bytes, 0};
    int error = 0;
    GifFileType *gif = DGifOpen(&input, ReadMemory, &error);
    DGifSlurp(gif);
    canvas.assign(static_cast<size_t>(gif->SWidth) * static_cast<size_t>(gif->SHeight), 0);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &image = gif->SavedImages[i];
        const ColorMapObject *map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        for (int y = 0; y < image.ImageDesc.Height; ++y) {
            for (int x = 0; x < image.ImageDesc.Width; ++x) {
                const GifColorType &c = map->Colors[image.RasterBits[y * image.ImageDesc.Width + x]];
                canvas[static_cast<size_t>(y + image.ImageDesc.Top) * static_cast<size_t>(gif->SWidth) +
                       static_cast<size_t>(x + image.ImageDesc.Left)] =
                    (static_cast<uint32_t>(c.Red) << 16) | (c.Green << 8) | c.Blue;
            }
        }
    }
    DGifCloseFile(gif, &error);
}

void GifStill(benchmark::State &state) {
    static const std::string gif = MakeGif(kSide, 1);
    for (auto _ : state) {
        Picture picture;
        GifDecoder(nullptr, &picture, DecoderMode::kLoadMemory, gif.data(), static_cast<unsigned>(gif.size()));
        benchmark::DoNotOptimize(picture.Pixels());
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(GifStill)->Unit(benchmark::kMillisecond);

void GiflibStill(benchmark::State &state) {
    static const std::string gif = MakeGif(kSide, 1);
    std::vector<uint32_t> canvas;
    for (auto _ : state) {
        GiflibDecode(gif, canvas);
        benchmark::DoNotOptimize(canvas.data());
    }
    state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(GiflibStill)->Unit(benchmark::kMillisecond);

void GifAnimated(benchmark::State &state) {
    static const std::string gif = MakeGif(500, 10);
    for (auto _ : state) {
        Picture picture;
        GifDecoder(nullptr, &picture, DecoderMode::kLoadMemory, gif.data(), static_cast<unsigned>(gif.size()));
        benchmark::DoNotOptimize(picture.FirstFrame());
        picture.Clear(); // stops the animation thread, as reuse does
    }
    state.SetItemsProcessed(state.iterations() * 500 * 500 * 10);
}
BENCHMARK(GifAnimated)->Unit(benchmark::kMillisecond);

void GiflibAnimated(benchmark::State &state) {
    static const std::string gif = MakeGif(500, 10);
    std::vector<uint32_t> canvas;
    for (auto _ : state) {
        GiflibDecode(gif, canvas);
        benchmark::DoNotOptimize(canvas.data());
    }
    state.SetItemsProcessed(state.iterations() * 500 * 500 * 10);
}
BENCHMARK(GiflibAnimated)->Unit(benchmark::kMillisecond);

std::string MakePng() {
    const std::string path = TempPath("bench.png");
    FILE *file = fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(kSide * 3);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide * 3; ++x)
            row[static_cast<size_t>(x)] = Pattern(x, y);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(file);
    return path;
}

// A file as pictures load it: the probe, then the load (a JPEG load takes
// the probe's decode), into a picture kept and reused as the object keeps it.
void LoadFile(benchmark::State &state, PictureDecoder decoder, const std::string &path) {
    Picture picture;
    for (auto _ : state) {
        decoder(path.c_str(), &picture, DecoderMode::kProbeFile, nullptr, 0);
        decoder(path.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0);
        benchmark::DoNotOptimize(picture.Pixels());
    }
}

void PngLoad(benchmark::State &state) {
    static const std::string path = MakePng();
    LoadFile(state, PngDecoder, path);
}
BENCHMARK(PngLoad)->Unit(benchmark::kMillisecond);

void LibpngBare(benchmark::State &state) {
    static const std::string path = MakePng();
    for (auto _ : state) {
        FILE *file = fopen(path.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, file);
        png_read_png(png, info, PNG_TRANSFORM_EXPAND, nullptr);
        benchmark::DoNotOptimize(png_get_rows(png, info));
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(file);
    }
}
BENCHMARK(LibpngBare)->Unit(benchmark::kMillisecond);

std::string MakeJpeg() {
    const std::string path = TempPath("bench.jpg");
    std::vector<unsigned char> rgb(static_cast<size_t>(kSide) * kSide * 3);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide * 3; ++x)
            rgb[static_cast<size_t>(y) * kSide * 3 + static_cast<size_t>(x)] = Pattern(x, y);
    WriteJpegFile(path.c_str(), rgb.data(), kSide, kSide, 75); // libjpeg's default quality
    return path;
}

void JpegLoad(benchmark::State &state) {
    static const std::string path = MakeJpeg();
    LoadFile(state, JpegDecoder, path);
}
BENCHMARK(JpegLoad)->Unit(benchmark::kMillisecond);

// libjpeg alone: the file decoded as RGB rows into one buffer.
void LibjpegBare(benchmark::State &state) {
    static const std::string path = MakeJpeg();
    for (auto _ : state) {
        FILE *file = fopen(path.c_str(), "rb");
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        const size_t stride = static_cast<size_t>(info.output_width) * 3;
        std::unique_ptr<unsigned char[]> rgb(new unsigned char[stride * info.output_height]);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = rgb.get() + info.output_scanline * stride;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        fclose(file);
        benchmark::DoNotOptimize(rgb.get());
    }
}
BENCHMARK(LibjpegBare)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
