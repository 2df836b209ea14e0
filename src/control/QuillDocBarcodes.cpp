// Barcodes: PrintBarCode and GetBarCodeImg.
#include "QuillDoc.h"

// Barcodes come with their renderers.
HRESULT STDMETHODCALLTYPE QuillDoc::PrintBarCode(int, BSTR, int, int, int, int, int, int) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetBarCodeImg(int, BSTR, BSTR *) { return E_NOTIMPL; }
