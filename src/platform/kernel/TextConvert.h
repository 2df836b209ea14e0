// Conversions between code pages for the platform's own use (registry
// storage, UI hosts, resource strings), through UTF-16.
#pragma once

#include <string>

#include "windef.h"

namespace platform {

std::string ConvertText(UINT from, UINT to, const char *text, size_t length);
std::string AnsiToUtf8(const char *ansi);
std::string Utf8ToAnsi(const std::string &utf8);
std::u16string Utf8ToWide(const std::string &utf8);
std::string WideToUtf8(const WCHAR *wide, size_t length);
std::string WideToUtf8(const WCHAR *wide); // up to the terminator; null gives ""

} // namespace platform
