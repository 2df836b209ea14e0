// Rendering linear barcodes, captions included: the system's renderers
// against zint's library (encode and raster buffer) for the same texts.
#include <benchmark/benchmark.h>
#include <zint.h>

#include "barcode/Code128Bitmap.h"
#include "barcode/Ean13Bitmap.h"

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

} // namespace

BENCHMARK_MAIN();
