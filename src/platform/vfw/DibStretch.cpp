#include "DibStretch.h"

#include <algorithm>
#include <cstddef>

namespace platform::vfw {

namespace {

// The source pixels each destination pixel takes along one axis: a run with
// weights when shrinking (area averaging), one pixel when enlarging.
struct Span {
    int first;
    std::vector<double> weights;
};

std::vector<Span> AxisSpans(int source, int destination) {
    std::vector<Span> spans(static_cast<size_t>(destination));
    const double scale = static_cast<double>(source) / destination;
    for (int i = 0; i < destination; ++i) {
        Span &span = spans[static_cast<size_t>(i)];
        if (destination >= source) {
            span.first = static_cast<int>(static_cast<long long>(i) * source / destination);
            span.weights = {1.0};
            continue;
        }
        const double begin = i * scale, end = (i + 1) * scale;
        span.first = static_cast<int>(begin);
        for (int s = span.first; s < end && s < source; ++s) {
            double cover = std::min<double>(end, s + 1) - std::max<double>(begin, s);
            span.weights.push_back(cover / scale);
        }
    }
    return spans;
}

// One source row through the horizontal pass: w target pixels as doubles.
void HorizontalPass(const DibSource &src, int y, const std::vector<Span> &columns, double *line) {
    const unsigned char *row = src.Row(y);
    for (size_t x = 0; x < columns.size(); ++x) {
        const Span &span = columns[x];
        double b = 0, g = 0, r = 0;
        for (size_t k = 0; k < span.weights.size(); ++k) {
            const unsigned char *p = row + (span.first + static_cast<int>(k)) * 4;
            b += p[0] * span.weights[k];
            g += p[1] * span.weights[k];
            r += p[2] * span.weights[k];
        }
        line[x * 3] = b;
        line[x * 3 + 1] = g;
        line[x * 3 + 2] = r;
    }
}

} // namespace

void StretchDib(const DibSource &src, int w, int h, std::vector<unsigned char> &out) {
    const std::vector<Span> columns = AxisSpans(src.w, w);
    const std::vector<Span> rows = AxisSpans(src.h, h);
    // Row by row: the source rows a target row covers go through the
    // horizontal pass and are summed with their weights, so the work space
    // is a row, whatever the picture's size.
    std::vector<double> line(static_cast<size_t>(w) * 3), sum(static_cast<size_t>(w) * 3);
    out.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    for (int y = 0; y < h; ++y) {
        const Span &span = rows[static_cast<size_t>(y)];
        std::fill(sum.begin(), sum.end(), 0.0);
        for (size_t k = 0; k < span.weights.size(); ++k) {
            HorizontalPass(src, span.first + static_cast<int>(k), columns, line.data());
            for (size_t i = 0; i < sum.size(); ++i)
                sum[i] += line[i] * span.weights[k];
        }
        unsigned char *dst = &out[static_cast<size_t>(y) * static_cast<size_t>(w) * 4];
        for (int x = 0; x < w; ++x) {
            for (int i = 0; i < 3; ++i)
                dst[x * 4 + i] = static_cast<unsigned char>(
                    std::min(255.0, sum[static_cast<size_t>(x * 3 + i)] + 0.5));
        }
    }
}

} // namespace platform::vfw
