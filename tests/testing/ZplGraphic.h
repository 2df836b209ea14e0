// The graphics of ZPL bytes (what a label printer application sends a
// ZPL printer) decoded back into the printer's dots: each ~DG download's
// hex rows, with ZPL's compression (run counts G-Y and g-z, "," and "!"
// for the rest of a row, ":" for the previous row again).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class ZplGraphic {
public:
    // Every graphic downloaded in the bytes, in order.
    static std::vector<ZplGraphic> Decode(const std::string &zpl);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Whether the dot is black; false beyond the graphic.
    bool Dot(int x, int y) const;
    // The dots as grey pixels (black 0, white 255), rows top first.
    std::vector<unsigned char> Grey() const;
    // The same graphic with every black run one dot wider on its right, as
    // a print head's dot gain prints it.
    ZplGraphic Widened() const;
    // The black runs of a row as [start, end) pairs.
    std::vector<std::pair<int, int>> Runs(int y) const;

private:
    int m_width = 0, m_height = 0;
    std::vector<unsigned char> m_dots; // 1 black, row after row
};

} // namespace testing_support
