// Printing: the printer session, text, fonts and lines.
#include "QuillDoc.h"

// The printer session and drawing come with the printing components.
HRESULT STDMETHODCALLTYPE QuillDoc::SetPaperSize(int, int) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::SetPaperSize1(double, double) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::SetPrinter(BSTR, int *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::PrintText(int, int, BSTR, int, int, int) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::SetFont(BSTR, int, int *) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE QuillDoc::DrawLine(int, int, int, int, int, int, int, int) {
    return E_NOTIMPL;
}
