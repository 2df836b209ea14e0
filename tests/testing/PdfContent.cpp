#include "testing/PdfContent.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <zlib.h>

#include "testing/TestSupport.h"

namespace testing_support {
namespace {

// A transformation matrix [a b c d e f], as PDF writes them.
using Matrix = std::array<double, 6>;

Matrix Multiply(const Matrix &m, const Matrix &n) {
    return {m[0] * n[0] + m[1] * n[2],        m[0] * n[1] + m[1] * n[3],
            m[2] * n[0] + m[3] * n[2],        m[2] * n[1] + m[3] * n[3],
            m[4] * n[0] + m[5] * n[2] + n[4], m[4] * n[1] + m[5] * n[3] + n[5]};
}

void Apply(const Matrix &m, double x, double y, double &outX, double &outY) {
    outX = m[0] * x + m[2] * y + m[4];
    outY = m[1] * x + m[3] * y + m[5];
}

std::string Inflate(const std::string &data) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    std::string out;
    char buffer[65536];
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : std::string();
}

// The box a unit square or a rectangle covers under a matrix, in points
// from the top-left corner of a page of the given height.
PdfBox BoxOf(const Matrix &m, double x, double y, double w, double h, double pageHeight) {
    double x0, y0, x1, y1;
    Apply(m, x, y, x0, y0);
    Apply(m, x + w, y + h, x1, y1);
    return {std::min(x0, x1), pageHeight - std::max(y0, y1), std::abs(x1 - x0), std::abs(y1 - y0)};
}

} // namespace

PdfContent::PdfContent(const std::string &pdf) {
    const std::string bytes = ReadFile(pdf);
    const size_t box = bytes.find("/MediaBox");
    double x0, y0, x1, y1;
    if (box == std::string::npos ||
        sscanf(bytes.c_str() + box, "/MediaBox [ %lf %lf %lf %lf", &x0, &y0, &x1, &y1) != 4)
        return;
    m_pageHeight = y1 - y0;
    for (size_t at = bytes.find("stream"); at != std::string::npos; at = bytes.find("stream", at)) {
        size_t start = bytes.find('\n', at) + 1;
        size_t end = bytes.find("endstream", start);
        if (end == std::string::npos)
            break;
        // Only drawing: not images, fonts or other data streams.
        const size_t dict = bytes.rfind("<<", at);
        const std::string words = dict == std::string::npos ? "" : bytes.substr(dict, at - dict);
        const bool drawing = words.find("/Length1") == std::string::npos &&
                             (words.find("/Subtype") == std::string::npos ||
                              words.find("/Form") != std::string::npos);
        if (drawing)
            Interpret(Inflate(bytes.substr(start, end - start)));
        at = end + 9;
    }
}

// Follows q, Q and cm, and records filled or stroked rectangles, images
// (Do) and the text matrix of each Tj/TJ.
void PdfContent::Interpret(const std::string &stream) {
    std::vector<Matrix> saved;
    Matrix ctm{1, 0, 0, 1, 0, 0}, text{1, 0, 0, 1, 0, 0};
    std::vector<double> operands;
    std::string shown;
    std::vector<PdfBox> path; // rectangles of the path being built
    for (size_t i = 0; i < stream.size();) {
        const char c = stream[i];
        if (isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '(') { // a string, with its escapes kept
            size_t end = i + 1;
            for (int depth = 1; end < stream.size() && depth > 0; ++end) {
                if (stream[end] == '\\')
                    ++end;
                else if (stream[end] == '(')
                    ++depth;
                else if (stream[end] == ')')
                    --depth;
            }
            shown += stream.substr(i + 1, end - i - 2);
            i = end;
        } else if (isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
            char *end = nullptr;
            operands.push_back(strtod(stream.c_str() + i, &end));
            i = static_cast<size_t>(end - stream.c_str());
        } else if (isalpha(static_cast<unsigned char>(c)) || c == '\'' || c == '"') {
            size_t end = i;
            while (end < stream.size() &&
                   (isalpha(static_cast<unsigned char>(stream[end])) || stream[end] == '*'))
                ++end;
            const std::string op = stream.substr(i, std::max<size_t>(end - i, 1));
            i += op.size();
            const size_t n = operands.size();
            if (op == "q") {
                saved.push_back(ctm);
            } else if (op == "Q" && !saved.empty()) {
                ctm = saved.back();
                saved.pop_back();
            } else if (op == "cm" && n >= 6) {
                ctm = Multiply({operands[n - 6], operands[n - 5], operands[n - 4], operands[n - 3],
                                operands[n - 2], operands[n - 1]},
                               ctm);
            } else if (op == "re" && n >= 4) {
                path.push_back(BoxOf(ctm, operands[n - 4], operands[n - 3], operands[n - 2],
                                     operands[n - 1], m_pageHeight));
            } else if (op == "f" || op == "f*" || op == "F" || op == "S" || op == "B") {
                m_rectangles.insert(m_rectangles.end(), path.begin(), path.end());
                path.clear();
            } else if (op == "n") {
                path.clear(); // a clip, not a drawing
            } else if (op == "Do") {
                m_images.push_back(BoxOf(ctm, 0, 0, 1, 1, m_pageHeight));
            } else if (op == "Tm" && n >= 6) {
                text = {operands[n - 6], operands[n - 5], operands[n - 4],
                        operands[n - 3], operands[n - 2], operands[n - 1]};
            } else if (op == "Tj" || op == "TJ") {
                double x, y;
                Apply(Multiply(text, ctm), 0, 0, x, y);
                m_texts.push_back({x, m_pageHeight - y, shown});
            }
            if (op != "Tj" && op != "TJ" && op != "[" && op != "]")
                shown.clear();
            operands.clear();
        } else {
            ++i; // names, arrays, dictionaries: not needed here
            if (c == '/')
                while (i < stream.size() && !isspace(static_cast<unsigned char>(stream[i])))
                    ++i;
        }
    }
}

} // namespace testing_support
