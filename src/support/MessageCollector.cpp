#include "MessageCollector.h"

void MessageCollector::Write(const char *text) { m_text.Append(text); }

AnsiStr MessageCollector::TakeText() {
    AnsiStr text(m_text);
    m_text.Clear();
    return text;
}
