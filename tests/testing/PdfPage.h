// A printed PDF page looked at with poppler's tools: rasterised at a
// resolution, its text, its fonts and its size.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class PdfPage {
public:
    // Rasterises the first page at dpi (pdftoppm, greyscale).
    PdfPage(const std::string &pdf, int dpi);
    // Only the area of width x height pixels from (x, y) on; pixel (0, 0) is
    // then the area's corner.
    PdfPage(const std::string &pdf, int dpi, int x, int y, int width, int height);

    bool Ok() const { return m_width > 0; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Whether the pixel is darker than mid-grey.
    bool Dark(int x, int y) const;
    // The dark pixels' bounding box within a region (inclusive); false if none.
    bool DarkBox(int x0, int y0, int x1, int y1, int &left, int &top, int &right, int &bottom) const;
    // The grey pixels of a region (inclusive), rows top first; white beyond the page.
    std::vector<unsigned char> Region(int x0, int y0, int x1, int y1) const;

private:
    int m_width = 0, m_height = 0;
    std::vector<unsigned char> m_grey;
};

std::string PdfText(const std::string &pdf);
std::string PdfFonts(const std::string &pdf);
// The page size in points, from pdfinfo.
bool PdfPageSize(const std::string &pdf, double &width, double &height);

} // namespace testing_support
