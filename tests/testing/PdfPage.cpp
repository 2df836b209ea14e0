#include "testing/PdfPage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "testing/TestSupport.h"

namespace testing_support {

PdfPage::PdfPage(const std::string &pdf, int dpi) : PdfPage(pdf, dpi, 0, 0, 0, 0) {}

PdfPage::PdfPage(const std::string &pdf, int dpi, int x, int y, int width, int height) {
    std::string base = MakeTempDir("raster-") + "/page";
    std::vector<std::string> argv = {"/usr/bin/pdftoppm", "-r", std::to_string(dpi), "-gray", "-singlefile"};
    if (width > 0 && height > 0)
        argv.insert(argv.end(), {"-x", std::to_string(x), "-y", std::to_string(y), "-W", std::to_string(width),
                                 "-H", std::to_string(height)});
    argv.insert(argv.end(), {pdf, base});
    Run(argv);
    std::string bytes = ReadFile(base + ".pgm");
    RemoveTree(base.substr(0, base.find_last_of('/')));
    // A binary PGM: "P5", width, height, maximum, then the samples.
    std::istringstream header(bytes);
    std::string magic;
    int maximum = 0;
    header >> magic >> m_width >> m_height >> maximum;
    if (magic != "P5" || m_width <= 0 || m_height <= 0) {
        m_width = m_height = 0;
        return;
    }
    size_t start = static_cast<size_t>(header.tellg()) + 1;
    size_t count = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    if (bytes.size() < start + count) {
        m_width = m_height = 0;
        return;
    }
    m_grey.assign(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + count));
}

bool PdfPage::Dark(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    return m_grey[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)] < 128;
}

std::vector<unsigned char> PdfPage::Region(int x0, int y0, int x1, int y1) const {
    std::vector<unsigned char> out;
    out.reserve(static_cast<size_t>((x1 - x0 + 1) * (y1 - y0 + 1)));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            out.push_back(x < 0 || y < 0 || x >= m_width || y >= m_height
                              ? 255
                              : m_grey[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)]);
    return out;
}

bool PdfPage::DarkBox(int x0, int y0, int x1, int y1, int &left, int &top, int &right,
                      int &bottom) const {
    left = top = 1 << 30;
    right = bottom = -1;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            if (Dark(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right >= 0;
}

std::string PdfText(const std::string &pdf) { return Run({"/usr/bin/pdftotext", pdf, "-"}).output; }

std::string PdfFonts(const std::string &pdf) { return Run({"/usr/bin/pdffonts", pdf}).output; }

bool PdfPageSize(const std::string &pdf, double &width, double &height) {
    std::string info = Run({"/usr/bin/pdfinfo", pdf}).output;
    size_t at = info.find("Page size:");
    if (at == std::string::npos)
        return false;
    return sscanf(info.c_str() + at, "Page size: %lf x %lf", &width, &height) == 2;
}

} // namespace testing_support
