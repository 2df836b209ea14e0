#include "LabelChecks.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

#include "testing/BarcodeScan.h"
#include "testing/PdfPage.h"
#include "testing/TestSupport.h"

namespace bridge_test {
namespace {

constexpr int kDpi = 300;

int Dots(double millimetres) {
    return static_cast<int>(millimetres / 25.4 * kDpi);
}

// The symbol in a band of the label (millimetres from the paper's top).
std::string Scan(const std::string &pdf, double top, double bottom) {
    const int width = Dots(95), height = Dots(bottom - top);
    testing_support::PdfPage area(pdf, kDpi, 0, Dots(top), width, height);
    if (!area.Ok())
        return "(no page)";
    return testing_support::ScanGrey(area.Region(0, 0, width - 1, height - 1), width, height, 1, 1);
}

} // namespace

std::string LabelScript() {
    return testing_support::ReadFile(BRIDGE_FIXTURES_DIR "/label.js");
}

std::string LabelPage(const std::string &bridge, int labelNumber) {
    return "<html><head><meta charset=\"utf-8\">\n<script src=\"" + bridge +
           "/quillbay.js\"></script>\n<script>var labelNumber = " + std::to_string(labelNumber) +
           ";</script>\n<script src=\"/label.js\"></script>\n</head><body></body></html>\n";
}

std::vector<std::string> PdfFiles(const std::string &dir) {
    std::vector<std::pair<long long, std::string>> found;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name.size() < 5 || name.compare(name.size() - 4, 4, ".pdf") != 0)
                continue;
            struct stat info {};
            stat((dir + "/" + name).c_str(), &info);
            found.emplace_back(info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
                               dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (auto &[time, path] : found)
        files.push_back(path);
    return files;
}

std::string CheckLabel(const std::string &pdf, int labelNumber, LabelCheck depth) {
    char serial[16];
    snprintf(serial, sizeof serial, "%06d", labelNumber);
    std::string text = testing_support::PdfText(pdf);
    if (text.find(std::string("发货单 Label ") + serial) == std::string::npos ||
        text.find("收货人：张三") == std::string::npos)
        return pdf + ": text " + text;
    if (depth == LabelCheck::Text)
        return {};
    std::string code = Scan(pdf, 25, 57);
    if (code != std::string("2026") + serial)
        return pdf + ": Code 128 reads " + code;
    if (depth == LabelCheck::Code128)
        return {};
    std::string symbol = Scan(pdf, 57, 99);
    std::string wanted = testing_support::Ansi(std::string("SO-") + serial + "|张三|北京市海淀区");
    return symbol == wanted ? std::string() : pdf + ": PDF417 reads " + symbol;
}

bool SamePixels(const std::string &a, const std::string &b) {
    testing_support::PdfPage first(a, 100), second(b, 100);
    if (!first.Ok() || first.Width() != second.Width() || first.Height() != second.Height())
        return false;
    return first.Region(0, 0, first.Width() - 1, first.Height() - 1) ==
           second.Region(0, 0, second.Width() - 1, second.Height() - 1);
}

} // namespace bridge_test
