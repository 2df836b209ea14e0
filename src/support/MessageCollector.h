// MessageCollector: a silent log that keeps every message written to it as
// text, for the script to read.
#pragma once

#include "AnsiStr.h"
#include "DiagLog.h"

class MessageCollector : public DiagLog {
public:
    using DiagLog::Printf;
    using DiagLog::WriteCode;

    // Appends the text, without a separator.
    void Write(const char *text) override;

    const AnsiStr &Text() const { return m_text; }
    // Hands the collected text to the caller and starts empty again.
    AnsiStr TakeText();
    void ClearText() { m_text.Clear(); }

private:
    AnsiStr m_text;
};
