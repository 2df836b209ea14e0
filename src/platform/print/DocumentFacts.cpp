#include "DocumentFacts.h"

#include <cmath>
#include <cstdint>
#include <strings.h>

namespace platform::print {
namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr double kMetresPerInch = 0.0254;

uint32_t Big32(std::string_view bytes, size_t at) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

unsigned Big16(std::string_view bytes, size_t at) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + at);
    return unsigned(p[0]) << 8 | p[1];
}

DocumentFormat Sniff(std::string_view bytes) {
    if (bytes.compare(0, 5, "%PDF-") == 0)
        return DocumentFormat::kPdf;
    if (bytes.size() >= sizeof kPngSignature &&
        bytes.compare(0, sizeof kPngSignature, reinterpret_cast<const char *>(kPngSignature),
                      sizeof kPngSignature) == 0)
        return DocumentFormat::kPng;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xff\xd8\xff") == 0)
        return DocumentFormat::kJpeg;
    // A PDF may have a few bytes before its header (readers look in the
    // first kilobyte).
    if (bytes.find("%PDF-") < 1024)
        return DocumentFormat::kPdf;
    return DocumentFormat::kUnknown;
}

// A PNG's size from its IHDR, and its resolution from pHYs (pixels per
// metre; a pHYs of unknown unit gives only the aspect, no resolution).
bool ReadPng(std::string_view bytes, DocumentFacts &facts) {
    size_t at = sizeof kPngSignature;
    while (at + 12 <= bytes.size()) {
        const uint32_t length = Big32(bytes, at);
        const std::string_view type = bytes.substr(at + 4, 4);
        if (length > bytes.size() - at - 12)
            return false;
        if (type == "IHDR" && length >= 8) {
            facts.width = static_cast<int>(Big32(bytes, at + 8) & 0x7fffffff);
            facts.height = static_cast<int>(Big32(bytes, at + 12) & 0x7fffffff);
        } else if (type == "pHYs" && length >= 9 && bytes[at + 16] == 1) {
            facts.dpiX = Big32(bytes, at + 8) * kMetresPerInch;
            facts.dpiY = Big32(bytes, at + 12) * kMetresPerInch;
        } else if (type == "IDAT" || type == "IEND") {
            break;
        }
        at += 12 + length;
    }
    return facts.width > 0 && facts.height > 0;
}

bool IsStartOfFrame(int marker) {
    // SOF0-SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

// A JPEG's size from its frame header, its resolution from its JFIF
// header (dots per inch or per centimetre; unit 0 gives only the aspect).
bool ReadJpeg(std::string_view bytes, DocumentFacts &facts) {
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (static_cast<unsigned char>(bytes[at]) != 0xff)
            return false;
        const int marker = static_cast<unsigned char>(bytes[at + 1]);
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        const unsigned length = Big16(bytes, at + 2);
        if (length < 2 || at + 2 + length > bytes.size())
            return false;
        const size_t data = at + 4;
        if (marker == 0xe0 && length >= 14 && bytes.compare(data, 5, std::string_view("JFIF\0", 5)) == 0) {
            const int unit = static_cast<unsigned char>(bytes[data + 7]);
            const double perInch = unit == 1 ? 1 : unit == 2 ? 2.54 : 0;
            facts.dpiX = Big16(bytes, data + 8) * perInch;
            facts.dpiY = Big16(bytes, data + 10) * perInch;
        } else if (IsStartOfFrame(marker) && length >= 7) {
            facts.height = static_cast<int>(Big16(bytes, data + 1));
            facts.width = static_cast<int>(Big16(bytes, data + 3));
            return facts.width > 0 && facts.height > 0;
        } else if (marker == 0xda || marker == 0xd9) {
            return false; // the image's data began before its frame's size
        }
        at += 2 + length;
    }
    return false;
}

} // namespace

bool DocumentFacts::MixedSizes() const {
    for (const auto &[width, length] : pages) {
        if (std::fabs(width - pages.front().first) > 1 ||
            std::fabs(length - pages.front().second) > 1)
            return true;
    }
    return false;
}

DocumentFormat DocumentFormatNamed(const std::string &name) {
    if (strcasecmp(name.c_str(), "pdf") == 0)
        return DocumentFormat::kPdf;
    if (strcasecmp(name.c_str(), "png") == 0)
        return DocumentFormat::kPng;
    if (strcasecmp(name.c_str(), "jpeg") == 0 || strcasecmp(name.c_str(), "jpg") == 0)
        return DocumentFormat::kJpeg;
    return DocumentFormat::kUnknown;
}

const char *DocumentFormatName(DocumentFormat format) {
    switch (format) {
    case DocumentFormat::kPdf:
        return "pdf";
    case DocumentFormat::kPng:
        return "png";
    case DocumentFormat::kJpeg:
        return "jpeg";
    case DocumentFormat::kUnknown:
        break;
    }
    return "unknown";
}

bool ReadDocumentFacts(std::string_view bytes, DocumentFormat asked, DocumentFacts &facts,
                       std::string &why) {
    facts = DocumentFacts();
    if (bytes.empty()) {
        why = "the document is empty";
        return false;
    }
    facts.format = Sniff(bytes);
    if (facts.format == DocumentFormat::kUnknown) {
        why = "the document is no PDF, PNG or JPEG";
        return false;
    }
    if (asked != DocumentFormat::kUnknown && asked != facts.format) {
        why = std::string("the document was said to be ") + DocumentFormatName(asked) +
              ", but its bytes are " + DocumentFormatName(facts.format);
        return false;
    }
    if (facts.format == DocumentFormat::kPdf)
        return ReadPdfFacts(bytes, facts, why);
    const bool read = facts.format == DocumentFormat::kPng ? ReadPng(bytes, facts)
                                                           : ReadJpeg(bytes, facts);
    if (!read) {
        why = std::string("the ") + DocumentFormatName(facts.format) + " image is broken: it has no size";
        return false;
    }
    if (static_cast<long long>(facts.width) * facts.height > kMostImagePixels) {
        why = "the image has " + std::to_string(facts.width) + " x " + std::to_string(facts.height) +
              " pixels, more than the " + std::to_string(kMostImagePixels) + " it may have";
        return false;
    }
    return true;
}

} // namespace platform::print
