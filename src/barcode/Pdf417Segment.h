// Pdf417Segment: one run of the text, compacted in one mode.
#pragma once

struct Pdf417Segment {
    char kind;  // 'T' text, 'B' byte, 'N' numeric
    int start;  // first byte
    int end;    // one past the last byte

    int Length() const { return end - start; }
};
