// Database methods and the result slot.
#include "QuillDoc.h"

HRESULT STDMETHODCALLTYPE QuillDoc::GetDBResult(BSTR *pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = m_bstrResult ? SysAllocStringLen(m_bstrResult, SysStringLen(m_bstrResult)) : nullptr;
    return S_OK;
}

// Connections, queries and record navigation come with the database session.
HRESULT STDMETHODCALLTYPE QuillDoc::DBCommand(int, BSTR, BSTR, int *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::DBRes(BSTR, BSTR *) { return E_NOTIMPL; }
