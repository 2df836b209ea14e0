#include "DiagLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kFormatSize = 2048;
}

DiagLog::DiagLog() { InitializeCriticalSection(&m_lock); }

DiagLog::~DiagLog() {
    free(m_pFormat);
    DeleteCriticalSection(&m_lock);
}

void DiagLog::Printf(const char *format, ...) {
    m_lastCode = 0;
    if (!Outputs())
        return;
    EnterCriticalSection(&m_lock);
    if (!m_pFormat)
        m_pFormat = static_cast<char *>(calloc(kFormatSize, 1));
    if (m_pFormat) {
        va_list args;
        va_start(args, format);
        FormatTextA(m_pFormat, kFormatSize - 1, format, args);
        va_end(args);
        Output(m_pFormat);
    }
    LeaveCriticalSection(&m_lock);
}

void DiagLog::Write(const char *text) {
    m_lastCode = 0;
    if (!Outputs())
        return;
    EnterCriticalSection(&m_lock);
    Output(text);
    LeaveCriticalSection(&m_lock);
}

void DiagLog::WriteCode(int code, const char *text) {
    m_lastCode = code;
    if (!Outputs())
        return;
    EnterCriticalSection(&m_lock);
    Output(text);
    LeaveCriticalSection(&m_lock);
}

void DiagLog::Output(const char *text) {
    // The one channel this system has: the process's error stream.
    if (text)
        fprintf(stderr, "%s\n", text);
}
