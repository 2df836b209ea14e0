// The PDF417 encoder on arbitrary texts: every text either makes a symbol
// of the layout's own shape, in black and white, or none.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "barcode/Pdf417Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Pdf417Image image; // reused across inputs, as a page reuses its object
    const std::string text(reinterpret_cast<const char *>(data), size);
    const DWORD *pixels = image.EncodeText(text.c_str());
    if (!pixels)
        return 0;
    const Pdf417Encoder &encoder = *image.Encoder();
    if (image.Width() != 17 * encoder.Columns() + 69 || image.Height() != encoder.Rows() ||
        encoder.Rows() < 3 || encoder.Rows() > 90 || encoder.Columns() < 1 || encoder.Columns() > 30 ||
        encoder.CodewordCount() != encoder.Rows() * encoder.Columns())
        std::abort();
    for (int i = 0; i < image.Width() * image.Height(); ++i)
        if (pixels[i] != 0 && pixels[i] != 0x00FFFFFF)
            std::abort();
    return 0;
}
