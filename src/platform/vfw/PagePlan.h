// PagePlan: how a picture goes onto a printer's page so that what prints
// does not depend on the rasteriser that turns the page into dots.
//
// The rows whose pixels are all black or white (the bars of a barcode, and
// its caption when that has no other colour) go as one stencil: black
// painted through a one-bit mask over a white ground. Rasterisers sample a
// stencil's pixels as they sample an image's, but none smooths or
// thickens it: an image of one pixel per module is smoothed when it is
// enlarged less than fourfold (poppler), and a filled rectangle gains the
// dots its edges touch (ghostscript). The other rows go as image bands.
#pragma once

#include <vector>

#include "DibSource.h"

namespace platform::vfw {

class PagePlan {
public:
    struct Band {
        int top, bottom; // rows [top, bottom), all columns
    };

    explicit PagePlan(const DibSource &src);

    // Whether the black-and-white rows go as a stencil; if not, the whole
    // picture is one image.
    bool HasStencil() const { return m_stencil; }
    // The rows of other colours, when there is a stencil.
    const std::vector<Band> &Bands() const { return m_bands; }
    // Whether a row goes in an image band rather than in the stencil.
    bool Banded(int row) const { return m_banded[static_cast<size_t>(row)]; }

private:
    std::vector<bool> m_banded;
    std::vector<Band> m_bands;
    bool m_stencil = false;
};

} // namespace platform::vfw
