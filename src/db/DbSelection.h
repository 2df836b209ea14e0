// DbSelection: the session's record-set holder: the current record set,
// the first one kept while the caller walks the results after it, and the
// field last read.
#pragma once

#include "platform/win32.h"

class DbSelection {
public:
    DbSelection() = default;
    DbSelection(const DbSelection &) = delete;
    DbSelection &operator=(const DbSelection &) = delete;
    ~DbSelection() {
        ReleaseField();
        if (m_pFirst)
            m_pFirst->Release();
        if (m_pRs)
            m_pRs->Release();
    }

    void ReleaseField() {
        if (m_pField)
            m_pField->Release();
        m_pField = nullptr;
    }

    _Recordset *m_pRs = nullptr;
    _Recordset *m_pFirst = nullptr;
    Field *m_pField = nullptr;
};
