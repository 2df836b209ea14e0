// A PNG or JPEG as a one-page PDF: the page of a given size, the image on
// it at a given place and size, its pixels as they are (no smoothing: at
// the printer's own resolution each pixel is one of its dots). A JPEG goes
// in unchanged, as PDF takes it.
#pragma once

#include <string>
#include <string_view>

#include "DocumentFacts.h"
#include "JobFile.h"

namespace platform::print {

// In points, the image's place from the page's top-left corner.
struct ImagePlacement {
    double pageWidth = 0, pageHeight = 0;
    double x = 0, y = 0, width = 0, height = 0;
};

class ImagePdf {
public:
    // Writes the page into file: false with why when the image could not
    // be decoded, and the file's error when it could not be written.
    static bool Write(std::string_view image, const DocumentFacts &facts,
                      const ImagePlacement &placement, JobFile &file, std::string &why);
};

} // namespace platform::print
