// HTTP methods: HttpConnect and HttpSend.
#include "QuillDoc.h"

// The HTTP methods come with the HTTP client.
HRESULT STDMETHODCALLTYPE QuillDoc::HttpConnect(BSTR, int *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::HttpSend(BSTR, BSTR, BSTR *) { return E_NOTIMPL; }
