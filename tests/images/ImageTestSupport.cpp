#include "ImageTestSupport.h"

#include <cctype>
#include <fstream>

#include "images/DecoderRegistry.h"
#include "images/GifDecoder.h"
#include "images/JpegDecoder.h"
#include "images/PngDecoder.h"

namespace image_testing {

std::vector<std::string> GifSuiteTests() {
    std::ifstream list(Corpus("pygif-test-suite/TESTS"));
    std::vector<std::string> names;
    for (std::string name; std::getline(list, name);)
        if (!name.empty() && name[0] != '#')
            names.push_back(name);
    return names;
}

DWORD RgbAt(const Picture &picture, int x, int y) {
    const auto *pixels = reinterpret_cast<const DWORD *>(picture.Pixels());
    return pixels[picture.IndexOf(x, y)] & 0xFFFFFF;
}

BYTE AlphaAt(const Picture &picture, int x, int y) {
    const auto *pixels = reinterpret_cast<const DWORD *>(picture.Pixels());
    return static_cast<BYTE>(pixels[picture.IndexOf(x, y)] >> 24);
}

std::vector<int> JsonNumbers(const std::string &text) {
    std::vector<int> numbers;
    int value = 0;
    bool inNumber = false;
    for (char c : text) {
        if (isdigit(static_cast<unsigned char>(c))) {
            value = value * 10 + (c - '0');
            inNumber = true;
        } else if (inNumber) {
            numbers.push_back(value);
            value = 0;
            inNumber = false;
        }
    }
    if (inNumber)
        numbers.push_back(value);
    return numbers;
}

void RegisterSystemDecoders() {
    RegisterDecoder("gif", GifDecoder);
    RegisterDecoder("png", PngDecoder);
    RegisterDecoder("jpg", JpegDecoder);
    RegisterDecoder("jpeg", JpegDecoder);
}

std::string MakeGif(int width, int height, const std::string &blocks, int background,
                    bool globalTable) {
    std::string gif = "GIF89a";
    gif += static_cast<char>(width & 0xFF);
    gif += static_cast<char>(width >> 8);
    gif += static_cast<char>(height & 0xFF);
    gif += static_cast<char>(height >> 8);
    gif += static_cast<char>(globalTable ? 0x81 : 0x00);
    gif += static_cast<char>(background);
    gif += '\0';
    if (globalTable)
        gif += std::string("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12);
    return gif + blocks + "\x3B";
}

std::string ImageBlock(int left, int top, int width, int height, const std::string &lzw,
                       bool interlaced) {
    std::string block = "\x2C";
    for (int v : {left, top, width, height}) {
        block += static_cast<char>(v & 0xFF);
        block += static_cast<char>(v >> 8);
    }
    block += static_cast<char>(interlaced ? 0x40 : 0x00);
    return block + lzw;
}

} // namespace image_testing
