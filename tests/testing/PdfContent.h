// What a printed PDF's pages draw, read from their content streams: filled
// rectangles, images and text origins, in points from the page's top-left
// corner (the drawing's own coordinates, not a rasteriser's).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct PdfBox {
    double left, top, width, height; // points, y downwards from the top edge
};

struct PdfText {
    double x, baseline; // the text's origin, points from the top-left corner
    std::string bytes;  // the string shown, as the content stream has it
};

class PdfContent {
public:
    explicit PdfContent(const std::string &pdf);

    bool Ok() const { return m_pageHeight > 0; }
    const std::vector<PdfBox> &Rectangles() const { return m_rectangles; }
    const std::vector<PdfBox> &Images() const { return m_images; }
    const std::vector<PdfText> &Texts() const { return m_texts; }

private:
    void Interpret(const std::string &stream);

    double m_pageHeight = 0;
    std::vector<PdfBox> m_rectangles, m_images;
    std::vector<PdfText> m_texts;
};

} // namespace testing_support
