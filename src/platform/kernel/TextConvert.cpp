#include "TextConvert.h"

#include <cstring>

#include "winnls.h"

namespace platform {

std::string ConvertText(UINT from, UINT to, const char *text, size_t length) {
    if (!text || length == 0)
        return {};
    int wideLength = MultiByteToWideChar(from, 0, text, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::u16string wide(static_cast<size_t>(wideLength), u'\0');
    MultiByteToWideChar(from, 0, text, static_cast<int>(length), wide.data(), wideLength);
    int outLength = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(outLength > 0 ? outLength : 0), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, out.data(), outLength, nullptr, nullptr);
    return out;
}

std::string AnsiToUtf8(const char *ansi) {
    return ansi ? ConvertText(CP_ACP, CP_UTF8, ansi, strlen(ansi)) : std::string();
}

std::string Utf8ToAnsi(const std::string &utf8) {
    return ConvertText(CP_UTF8, CP_ACP, utf8.data(), utf8.size());
}

} // namespace platform
