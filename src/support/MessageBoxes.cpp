#include "MessageBoxes.h"

#include <cstdarg>

#include "AnsiStr.h"

namespace {

void FormatMessageText(char (&buffer)[260], const char *format, va_list args) {
    for (char &c : buffer)
        c = 0;
    FormatTextA(buffer, kMessageBoxTextLimit, format ? format : "", args);
}

} // namespace

void WarnBox(const char *format, ...) {
    char text[260];
    va_list args;
    va_start(args, format);
    FormatMessageText(text, format, args);
    va_end(args);
    static const AnsiStr caption = AnsiStr::FromUtf8("错误");
    MessageBoxA(GetFocus(), text, caption.c_str(), MB_ICONWARNING);
}

int InfoBox(const char *caption, const char *format, ...) {
    char text[260];
    va_list args;
    va_start(args, format);
    FormatMessageText(text, format, args);
    va_end(args);
    return MessageBoxA(GetFocus(), text, caption, MB_OK);
}
