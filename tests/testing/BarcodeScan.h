// Reads barcodes back with an independent decoder (zxing), for the tests
// of the symbols the system draws.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// Decodes the symbol in grey pixels (one byte each, rows top first), every
// pixel repeated scaleX times across and scaleY times down, framed by a
// white margin. Gives the symbol's bytes, or "(unreadable)".
std::string ScanGrey(const std::vector<unsigned char> &grey, int width, int height, int scaleX = 3,
                     int scaleY = 3);

} // namespace testing_support
