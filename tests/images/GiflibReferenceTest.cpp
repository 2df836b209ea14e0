// The GIF decoder against giflib, composited on the background as a
// picture shows it, over the still images of the public suite.
#include <fstream>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "images/GifDecoder.h"

using namespace image_testing;

namespace {

// giflib's picture: the background colour, then every image drawn in order.
bool GiflibPicture(const std::string &path, int &width, int &height, std::vector<DWORD> &canvas) {
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif)
        return false;
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount == 0) {
        DGifCloseFile(gif, &error);
        return false;
    }
    width = gif->SWidth;
    height = gif->SHeight;
    DWORD background = 0;
    if (gif->SColorMap && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
        const GifColorType &c = gif->SColorMap->Colors[gif->SBackGroundColor];
        background = (static_cast<DWORD>(c.Red) << 16) | (c.Green << 8) | c.Blue;
    }
    canvas.assign(static_cast<size_t>(width) * static_cast<size_t>(height), background);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &image = gif->SavedImages[i];
        const ColorMapObject *map =
            image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        if (!map)
            continue;
        for (int y = 0; y < image.ImageDesc.Height; ++y) {
            for (int x = 0; x < image.ImageDesc.Width; ++x) {
                const int px = image.ImageDesc.Left + x, py = image.ImageDesc.Top + y;
                const int index = image.RasterBits[y * image.ImageDesc.Width + x];
                if (px >= width || py >= height || index >= map->ColorCount)
                    continue;
                const GifColorType &c = map->Colors[index];
                canvas[static_cast<size_t>(py) * static_cast<size_t>(width) +
                       static_cast<size_t>(px)] =
                    (static_cast<DWORD>(c.Red) << 16) | (c.Green << 8) | c.Blue;
            }
        }
    }
    DGifCloseFile(gif, &error);
    return true;
}

} // namespace

TEST(GiflibReference, StillImagesMatchPixelForPixel) {
    SKIP_WITHOUT_CORPUS("pygif-test-suite");
    int compared = 0;
    for (const std::string &name : GifSuiteTests()) {
        const std::string path = Corpus("pygif-test-suite/" + name + ".gif");
        int width = 0, height = 0;
        std::vector<DWORD> expected;
        if (!GiflibPicture(path, width, height, expected))
            continue;
        Picture picture;
        if (!GifDecoder(path.c_str(), &picture, DecoderMode::kLoadFile, nullptr, 0) ||
            picture.FirstFrame())
            continue; // refused by the system, or an animation (the picture holds frame 0 only)
        if (picture.Width() != width || picture.Height() != height)
            continue;
        int mismatches = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                mismatches += RgbAt(picture, x, y) != expected[static_cast<size_t>(y * width + x)];
        // Images the system skips as malformed differ where giflib drew them.
        if (name == "invalid-colors" || name == "invalid-code")
            continue;
        EXPECT_EQ(mismatches, 0) << name;
        ++compared;
    }
    EXPECT_GT(compared, 30);
}
