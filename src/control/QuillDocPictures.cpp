// Pictures: PrintLogo.
#include "QuillDoc.h"

// Pictures come with the picture object and its decoders.
HRESULT STDMETHODCALLTYPE QuillDoc::PrintLogo(BSTR, BSTR, int, int, int, int, int, int) {
    return E_NOTIMPL;
}
