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

std::u16string Utf8ToWide(const std::string &utf8) {
    if (utf8.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n > 0 ? n : 0), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string WideToUtf8(const WCHAR *wide, size_t length) {
    if (!wide || length == 0)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string WideToUtf8(const WCHAR *wide) {
    if (!wide)
        return {};
    size_t length = 0;
    while (wide[length])
        ++length;
    return WideToUtf8(wide, length);
}

} // namespace platform
