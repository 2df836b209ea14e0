// Browser page setup: PageSetup blanks or restores the header and footer.
#include "QuillDoc.h"
#include "support/RegKey.h"

HRESULT STDMETHODCALLTYPE QuillDoc::PageSetup(int nPrintHeadFoot) {
    RegKey key;
    if (nPrintHeadFoot & 1)
        key.Write(HKEY_CURRENT_USER, kPageSetupKey, "header", "");
    if (nPrintHeadFoot & 2)
        key.Write(HKEY_CURRENT_USER, kPageSetupKey, "footer", "");
    if (nPrintHeadFoot == 0 || nPrintHeadFoot > 3) {
        key.Write(HKEY_CURRENT_USER, kPageSetupKey, "header", m_strHeader.c_str());
        key.Write(HKEY_CURRENT_USER, kPageSetupKey, "footer", m_strFooter.c_str());
    }
    return S_OK;
}
