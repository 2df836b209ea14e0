#include "testing/ZplGraphic.h"

#include <cstdlib>

namespace testing_support {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The ZPL run count a character adds: G-Y are 1-19, g-z 20-400 (ZPL's
// alternative data compression scheme).
int RunCount(char c) {
    if (c >= 'G' && c <= 'Y')
        return c - 'F';
    if (c >= 'g' && c <= 'z')
        return (c - 'f') * 20;
    return 0;
}

} // namespace

std::vector<ZplGraphic> ZplGraphic::Decode(const std::string &zpl) {
    std::vector<ZplGraphic> graphics;
    for (size_t at = zpl.find("~DG"); at != std::string::npos; at = zpl.find("~DG", at + 3)) {
        // ~DGd:name.GRF,total bytes,bytes per row,data
        const size_t first = zpl.find(',', at), second = zpl.find(',', first + 1),
                     third = zpl.find(',', second + 1);
        if (third == std::string::npos)
            break;
        const long total = atol(zpl.c_str() + first + 1), perRow = atol(zpl.c_str() + second + 1);
        if (perRow <= 0 || total <= 0 || total % perRow)
            continue;
        ZplGraphic graphic;
        graphic.m_width = static_cast<int>(perRow * 8);
        graphic.m_height = static_cast<int>(total / perRow);
        const size_t nibbles = static_cast<size_t>(perRow) * 2;
        std::string row, previous(nibbles, '0'), hex;
        int count = 0;
        for (size_t i = third + 1; i < zpl.size() && hex.size() < nibbles * graphic.m_height; ++i) {
            const char c = zpl[i];
            if (c == ':' || c == ',' || c == '!') {
                const char fill = c == ',' ? '0' : 'F';
                while (row.size() < nibbles)
                    row += c == ':' ? previous[row.size()] : fill;
            } else if (RunCount(c)) {
                count += RunCount(c);
            } else if (HexValue(c) >= 0) {
                row.append(static_cast<size_t>(count ? count : 1), static_cast<char>(c));
                count = 0;
            } else if (c == '^' || c == '~') {
                break; // the next command: the data ended early
            }
            while (row.size() >= nibbles) {
                previous = row.substr(0, nibbles);
                hex += previous;
                row.erase(0, nibbles);
            }
        }
        graphic.m_dots.assign(static_cast<size_t>(graphic.m_width) * graphic.m_height, 0);
        for (size_t n = 0; n < hex.size(); ++n) {
            const int value = HexValue(hex[n]);
            for (int bit = 0; bit < 4; ++bit)
                graphic.m_dots[n * 4 + static_cast<size_t>(bit)] = (value >> (3 - bit)) & 1;
        }
        graphics.push_back(std::move(graphic));
    }
    return graphics;
}

bool ZplGraphic::Dot(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    return m_dots[static_cast<size_t>(y) * m_width + x] != 0;
}

std::vector<unsigned char> ZplGraphic::Grey() const {
    std::vector<unsigned char> grey(m_dots.size());
    for (size_t i = 0; i < m_dots.size(); ++i)
        grey[i] = m_dots[i] ? 0 : 255;
    return grey;
}

ZplGraphic ZplGraphic::Widened() const {
    ZplGraphic wider = *this;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 1; x < m_width; ++x) {
            if (Dot(x - 1, y))
                wider.m_dots[static_cast<size_t>(y) * m_width + x] = 1;
        }
    }
    return wider;
}

std::vector<std::pair<int, int>> ZplGraphic::Runs(int y) const {
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < m_width; ++x) {
        if (!Dot(x, y))
            continue;
        const int start = x;
        while (x < m_width && Dot(x, y))
            ++x;
        runs.emplace_back(start, x);
    }
    return runs;
}

} // namespace testing_support
