// ComError: a failed call on an interface: its HRESULT and the error object
// the object raised (when it says it supports error information), with the
// texts the session records.
#pragma once

#include "platform/win32.h"
#include "support/AnsiStr.h"

class ComError {
public:
    ComError(HRESULT hr, IUnknown *object, REFIID iid);
    ComError(const ComError &) = delete;
    ComError &operator=(const ComError &) = delete;
    ~ComError();

    HRESULT Error() const { return m_hr; }
    // The system's message for the HRESULT without its line break; else
    // "IDispatch error #n" for 0x80040201 to 0x8004FFFF, else
    // "Unknown error 0x...".
    AnsiStr ErrorMessage() const;
    AnsiStr Source() const;
    AnsiStr Description() const;

private:
    HRESULT m_hr;
    IErrorInfo *m_pInfo = nullptr;
};
