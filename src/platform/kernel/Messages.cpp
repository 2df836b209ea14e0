// FormatMessageA from the system's message table. HRESULTs of the Win32
// facility (0x8007xxxx) read the text of their system error code.
#include <cstring>

#include "SystemMessages.h"
#include "winbase.h"

namespace {

const char *SystemText(DWORD code) {
    for (const platform::SystemMessage &message : platform::kSystemMessages) {
        if (message.code == code)
            return message.text;
    }
    if ((code & 0xFFFF0000u) == 0x80070000u)
        return SystemText(code & 0xFFFF);
    return nullptr;
}

// The user's language is English (with the ANSI code page of the system
// locale); the neutral and default languages reach it too.
bool LanguageKnown(DWORD languageId) {
    return languageId == 0 || languageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           languageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) ||
           languageId == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

} // namespace

extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId,
                                       DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize, va_list *) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!LanguageKnown(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    const char *text = SystemText(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    // Messages end with a line break, as the table's entries do.
    size_t length = strlen(text) + 2;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char *block = static_cast<char *>(LocalAlloc(LMEM_FIXED, length + 1));
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char **>(lpBuffer) = block;
        lpBuffer = block;
    } else if (length + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpBuffer, text, length - 2);
    memcpy(lpBuffer + length - 2, "\r\n", 3);
    return static_cast<DWORD>(length);
}
