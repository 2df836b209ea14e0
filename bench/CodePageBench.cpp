// Conversion of GBK text to UTF-16 and back through AnsiStr (the platform's
// code-page layer), against iconv called directly on the same text.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <string>

#include "support/AnsiStr.h"

namespace {

std::u16string SampleText() {
    std::u16string text;
    for (int i = 0; i < 20; ++i)
        text += u"收货人：张三 电话 13800000000 地址：北京市海淀区 ";
    return text;
}

void AnsiStrRoundTrip(benchmark::State &state) {
    std::u16string wide = SampleText();
    AnsiStr text;
    for (auto _ : state) {
        text.FromWide(wide.c_str());
        benchmark::DoNotOptimize(text.ToWide());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wide.size() * 2));
}
BENCHMARK(AnsiStrRoundTrip);

void IconvRoundTrip(benchmark::State &state) {
    std::u16string wide = SampleText();
    iconv_t toGbk = iconv_open("CP936", "UTF-16LE");
    iconv_t toWide = iconv_open("UTF-16LE", "CP936");
    std::string gbk(wide.size() * 2, '\0');
    std::u16string back(wide.size() + 1, u'\0');
    for (auto _ : state) {
        char *in = reinterpret_cast<char *>(wide.data());
        size_t inLeft = wide.size() * 2;
        char *out = gbk.data();
        size_t outLeft = gbk.size();
        iconv(toGbk, &in, &inLeft, &out, &outLeft);
        size_t gbkLength = gbk.size() - outLeft;
        in = gbk.data();
        inLeft = gbkLength;
        out = reinterpret_cast<char *>(back.data());
        outLeft = back.size() * 2;
        iconv(toWide, &in, &inLeft, &out, &outLeft);
        benchmark::DoNotOptimize(back.data());
    }
    iconv_close(toGbk);
    iconv_close(toWide);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(wide.size() * 2));
}
BENCHMARK(IconvRoundTrip);

} // namespace

BENCHMARK_MAIN();
