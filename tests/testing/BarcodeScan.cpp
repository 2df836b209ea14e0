#include "testing/BarcodeScan.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace testing_support {

std::string ScanGrey(const std::vector<unsigned char> &grey, int width, int height, int scaleX, int scaleY) {
    const int margin = 20 * scaleX;
    const int w = width * scaleX + 2 * margin, h = height * scaleY + 2 * margin;
    std::vector<unsigned char> big(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
    for (int y = 0; y < height * scaleY; ++y)
        for (int x = 0; x < width * scaleX; ++x)
            big[static_cast<size_t>((y + margin) * w + x + margin)] =
                grey[static_cast<size_t>((y / scaleY) * width + x / scaleX)];
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    const ZXing::Result result = ZXing::ReadBarcode({big.data(), w, h, ZXing::ImageFormat::Lum}, hints);
    if (!result.isValid())
        return "(unreadable)";
    return std::string(result.bytes().begin(), result.bytes().end());
}

} // namespace testing_support
