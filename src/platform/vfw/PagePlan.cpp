#include "PagePlan.h"

#include <cstddef>

namespace platform::vfw {

namespace {

constexpr unsigned kBlack = 0x000000, kWhite = 0xFFFFFF;

// Whether a row is all black and white, and whether it holds black.
bool Plain(const unsigned char *row, int width, bool &black) {
    for (int x = 0; x < width; ++x, row += 4) {
        const unsigned c = row[0] | (row[1] << 8) | (row[2] << 16);
        if (c == kBlack)
            black = true;
        else if (c != kWhite)
            return false;
    }
    return true;
}

} // namespace

PagePlan::PagePlan(const DibSource &src) : m_banded(static_cast<size_t>(src.h), false) {
    int plainRows = 0;
    bool black = false;
    for (int y = 0; y < src.h; ++y) {
        const bool plain = Plain(src.Row(y), src.w, black);
        m_banded[static_cast<size_t>(y)] = !plain;
        if (plain) {
            ++plainRows;
        } else if (!m_bands.empty() && m_bands.back().bottom == y) {
            ++m_bands.back().bottom;
        } else {
            m_bands.push_back(Band{y, y + 1});
        }
    }
    // Note: a picture goes as a stencil when black and white make at least
    // half of its rows (a symbol, with or without a smoothed caption under
    // it); a photograph with a black frame stays one image, which costs the
    // page one object instead of one for each band.
    m_stencil = black && 2 * plainRows >= src.h;
    if (!m_stencil)
        m_bands.clear();
}

} // namespace platform::vfw
