// Barcodes against zint's library for the same texts: linear symbols
// rendered with their captions (encode and raster buffer), and PDF417
// symbols encoded to modules and to pixels.
#include <benchmark/benchmark.h>
#include <string>
#include <zint.h>

#include "barcode/Code128Bitmap.h"
#include "barcode/Ean13Bitmap.h"
#include "barcode/Pdf417Image.h"

namespace {

const char *const kEan = "6901234567892";
const char *const kCode128 = "20261208123456";

void Ean13Render(benchmark::State &state) {
    Ean13Bitmap renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.Render(kEan));
}
BENCHMARK(Ean13Render);

void ZintEan13(benchmark::State &state) {
    for (auto _ : state) {
        zint_symbol *symbol = ZBarcode_Create();
        symbol->symbology = BARCODE_EANX;
        ZBarcode_Encode_and_Buffer(symbol, reinterpret_cast<const unsigned char *>(kEan), 13, 0);
        benchmark::DoNotOptimize(symbol->bitmap);
        ZBarcode_Delete(symbol);
    }
}
BENCHMARK(ZintEan13);

void Code128Render(benchmark::State &state) {
    Code128Bitmap renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.Render(kCode128));
}
BENCHMARK(Code128Render);

void ZintCode128(benchmark::State &state) {
    for (auto _ : state) {
        zint_symbol *symbol = ZBarcode_Create();
        symbol->symbology = BARCODE_CODE128;
        ZBarcode_Encode_and_Buffer(symbol, reinterpret_cast<const unsigned char *>(kCode128), 14, 0);
        benchmark::DoNotOptimize(symbol->bitmap);
        ZBarcode_Delete(symbol);
    }
}
BENCHMARK(ZintCode128);

// A label line repeated to the length asked.
std::string Ascii(size_t length) {
    const std::string line = "SHIP TO: Quillbay Ltd, 12 Harbour Rd, Unit 4B; Order #2026-1208/77, qty 12 x $3.50. ";
    std::string text;
    while (text.size() < length)
        text += line;
    return text.substr(0, length);
}

// GBK Chinese, two bytes a character.
std::string Gbk(size_t length) {
    const std::string chars = "\xC9\xEA\xC7\xEB\xB5\xA5\xBA\xC5\xCA\xD5\xBB\xF5\xC8\xCB\xB5\xD8\xD6\xB7"
                              "\xC9\xCC\xC6\xB7\xCA\xFD\xC1\xBF\xBD\xF0\xB6\xEE";
    std::string text;
    while (text.size() < length)
        text += chars;
    return text.substr(0, length);
}

const std::string &Text(int which) {
    static const std::string texts[] = {Ascii(100), Ascii(1000), Gbk(300)};
    return texts[which];
}

void Pdf417Label(benchmark::State &state, int which) {
    state.SetLabel(which == 0 ? "100 bytes" : which == 1 ? "1000 bytes" : "300 bytes GBK");
}

void Pdf417Modules(benchmark::State &state) {
    const std::string &text = Text(static_cast<int>(state.range(0)));
    Pdf417Encoder encoder;
    for (auto _ : state) {
        encoder.Reset();
        encoder.SetText(text.c_str());
        encoder.Encode();
        benchmark::DoNotOptimize(encoder.Bitmap());
    }
    Pdf417Label(state, static_cast<int>(state.range(0)));
}
BENCHMARK(Pdf417Modules)->DenseRange(0, 2);

// zint to its module rows, or on to its raster buffer as well.
void ZintPdf417(benchmark::State &state, bool buffer) {
    const std::string &text = Text(static_cast<int>(state.range(0)));
    const auto *data = reinterpret_cast<const unsigned char *>(text.data());
    const int length = static_cast<int>(text.size());
    for (auto _ : state) {
        zint_symbol *symbol = ZBarcode_Create();
        symbol->symbology = BARCODE_PDF417;
        if (buffer)
            ZBarcode_Encode_and_Buffer(symbol, data, length, 0);
        else
            ZBarcode_Encode(symbol, data, length);
        benchmark::DoNotOptimize(symbol->encoded_data);
        benchmark::DoNotOptimize(symbol->bitmap);
        ZBarcode_Delete(symbol);
    }
    Pdf417Label(state, static_cast<int>(state.range(0)));
}

void ZintPdf417Modules(benchmark::State &state) { ZintPdf417(state, false); }
BENCHMARK(ZintPdf417Modules)->DenseRange(0, 2);

void Pdf417Pixels(benchmark::State &state) {
    const std::string &text = Text(static_cast<int>(state.range(0)));
    Pdf417Image image;
    for (auto _ : state)
        benchmark::DoNotOptimize(image.EncodeText(text.c_str()));
    Pdf417Label(state, static_cast<int>(state.range(0)));
}
BENCHMARK(Pdf417Pixels)->DenseRange(0, 2);

void ZintPdf417Pixels(benchmark::State &state) { ZintPdf417(state, true); }
BENCHMARK(ZintPdf417Pixels)->DenseRange(0, 2);

} // namespace

BENCHMARK_MAIN();
