// What a document a page hands over for printing is: its format, known from
// its bytes and checked against the one the page named, and what printing
// it needs: a PDF's pages and their sizes, an image's pixels and
// resolution. A PDF is read with poppler (DocumentFactsPoppler.cpp), which
// refuses what it cannot read and what is encrypted.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::print {

enum class DocumentFormat { kUnknown, kPdf, kPng, kJpeg };

// The most pixels an image may have (a 4 x 6 in label at 600 dpi has 8.6
// million): its page is drawn from them whole.
inline constexpr long long kMostImagePixels = 40'000'000;

struct DocumentFacts {
    DocumentFormat format = DocumentFormat::kUnknown;
    // A PDF's pages: each page's size in points as it shows (its rotation
    // applied).
    std::vector<std::pair<double, double>> pages;
    // An image's size in pixels and its resolution in pixels per inch
    // (0 when it gives none).
    int width = 0, height = 0;
    double dpiX = 0, dpiY = 0;

    // Whether a PDF's pages are not all of one size (within a point).
    bool MixedSizes() const;
};

// A format by the name a page gives it ("pdf", "png", "jpeg" or "jpg"),
// kUnknown for any other; and the name of a format.
DocumentFormat DocumentFormatNamed(const std::string &name);
const char *DocumentFormatName(DocumentFormat format);

// Reads a document's facts: false with why when the bytes are empty, are
// no PDF, PNG or JPEG, are not of the format asked (kUnknown: any of
// them), are a PDF that cannot be read or is encrypted, or an image
// without a size or larger than kMostImagePixels.
bool ReadDocumentFacts(std::string_view bytes, DocumentFormat asked, DocumentFacts &facts,
                       std::string &why);
// The PDF's pages (DocumentFactsPoppler.cpp).
bool ReadPdfFacts(std::string_view bytes, DocumentFacts &facts, std::string &why);

} // namespace platform::print
