#include "Code128Bitmap.h"

#include <cstring>
#include <vector>

#include "Code128Tables.h"

namespace {
constexpr int kModule = 2, kHeight = 100;
// Set B's value of a digit: its code less 32.
constexpr int kSetBDigit = '0' - 32;
} // namespace

Code128Bitmap::Code128Bitmap() {
    SetCaptionFont("黑体", 18);
    m_nHeight = kHeight;
    m_nModuleWidth = kModule;
}

HBITMAP Code128Bitmap::Render(const char *text) {
    if (!text || !*text)
        return nullptr;
    const size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return nullptr;
    }
    // The data characters: digit pairs, then Code B and the odd last digit.
    std::vector<int> values;
    values.reserve(length / 2 + 5); // start, pairs, code B and digit, check, stop
    for (size_t i = 0; i + 1 < length; i += 2)
        values.push_back((text[i] - '0') * 10 + (text[i + 1] - '0'));
    if (length % 2) {
        values.push_back(code128::kCodeB);
        values.push_back(text[length - 1] - '0' + kSetBDigit);
    }
    int sum = code128::kStartC;
    for (size_t i = 0; i < values.size(); ++i)
        sum += static_cast<int>(i + 1) * values[i];
    values.insert(values.begin(), code128::kStartC);
    values.push_back(sum % 103);
    values.push_back(code128::kStop);

    const int symbols = static_cast<int>(values.size()) - 3; // data characters only
    m_nWidth = kModule * (11 * symbols + 35);
    m_nHeight = kHeight;
    const int bottom = kHeight - m_nCaptionHeight - 4;
    return RenderWith([&](HDC dc) {
        int x = kModule / 2;
        for (int value : values) {
            const code128::Pattern &p = code128::kPatterns[static_cast<size_t>(value)];
            for (int e = 0; e < 6; ++e) {
                if (e % 2 == 0) {
                    for (int m = 0; m < p[static_cast<size_t>(e)]; ++m, x += kModule)
                        VerticalLine(dc, x, 0, bottom);
                } else {
                    x += p[static_cast<size_t>(e)] * kModule;
                }
            }
        }
        // Stop's final two-module bar.
        VerticalLine(dc, x, 0, bottom);
        VerticalLine(dc, x + kModule, 0, bottom);
        RECT caption{0, bottom, m_nWidth, kHeight};
        DrawTextA(dc, text, -1, &caption, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    });
}
