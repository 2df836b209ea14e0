// DiagLog: the diagnostics logger that the HTTP client and the message
// collector are built on. Every output channel is off (nothing sets them),
// so a log only records the code of its last message.
#pragma once

#include "platform/win32.h"

class DiagLog {
public:
    DiagLog();
    DiagLog(const DiagLog &) = delete;
    DiagLog &operator=(const DiagLog &) = delete;
    virtual ~DiagLog();

    virtual void Printf(const char *format, ...);
    virtual void Write(const char *text);
    virtual void WriteCode(int code, const char *text);

    int LastCode() const { return m_lastCode; }

protected:
    // Whether any output channel is on (the low 16 bits of the flags).
    bool Outputs() const { return (m_flags & 0xFFFF) != 0; }
    // Writes one message to the channels that are on.
    void Output(const char *text);

    DWORD m_flags = 0;
    int m_lastCode = 0;
    char *m_pFormat = nullptr; // 2048 bytes, made on the first output
    CRITICAL_SECTION m_lock;
};
