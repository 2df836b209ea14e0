// Helpers for the picture and decoder tests.
#pragma once

#include <string>
#include <vector>

#include "images/Picture.h"
#include "testing/TestSupport.h"

namespace image_testing {

using testing_support::Corpus;

// The names the GIF suite's TESTS file lists, comments and blank lines left out.
std::vector<std::string> GifSuiteTests();

// The picture's pixel at (x, y), top-left origin, as 0x00RRGGBB.
DWORD RgbAt(const Picture &picture, int x, int y);
BYTE AlphaAt(const Picture &picture, int x, int y);

// All integers of a JSON array, in order.
std::vector<int> JsonNumbers(const std::string &text);

// A picture with the decoders registered in the system's order.
void RegisterSystemDecoders();

// A GIF: 89a header, a 4-entry global table (black, red, green, blue)
// unless told otherwise, then the blocks given, then the trailer.
std::string MakeGif(int width, int height, const std::string &blocks, int background = 0,
                    bool globalTable = true);
// An image descriptor with its LZW data (minimum code size, sub-blocks).
std::string ImageBlock(int left, int top, int width, int height, const std::string &lzw,
                       bool interlaced = false);

} // namespace image_testing
