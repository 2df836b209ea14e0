// GUIDs in their registry form, and task memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objbase.h"

namespace {

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[at]; false on anything else.
bool ReadHex(const OLECHAR *text, int at, int digits, unsigned long long &value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = HexValue(text[at + i]);
        if (v < 0)
            return false;
        value = value * 16 + static_cast<unsigned>(v);
    }
    return true;
}

bool ParseGuid(LPCOLESTR text, GUID &guid) {
    if (!text)
        return false;
    int length = 0;
    while (text[length] && length < 40)
        ++length;
    if (length != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' ||
        text[14] != u'-' || text[19] != u'-' || text[24] != u'-')
        return false;
    unsigned long long v = 0;
    if (!ReadHex(text, 1, 8, v))
        return false;
    guid.Data1 = static_cast<DWORD>(v);
    if (!ReadHex(text, 10, 4, v))
        return false;
    guid.Data2 = static_cast<WORD>(v);
    if (!ReadHex(text, 15, 4, v))
        return false;
    guid.Data3 = static_cast<WORD>(v);
    const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, offsets[i], 2, v))
            return false;
        guid.Data4[i] = static_cast<BYTE>(v);
    }
    return true;
}

} // namespace

extern "C" int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39)
        return 0;
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", rguid.Data1,
             rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1], rguid.Data4[2],
             rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int i = 0; i < 39; ++i)
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    return 39;
}

extern "C" HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid)
        return E_INVALIDARG;
    if (!ParseGuid(lpsz, *pclsid)) {
        *pclsid = GUID_NULL;
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID *lpiid) {
    if (!lpiid)
        return E_INVALIDARG;
    return ParseGuid(lpsz, *lpiid) ? S_OK : E_INVALIDARG;
}

extern "C" LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return malloc(cb ? cb : 1); }

extern "C" void WINAPI CoTaskMemFree(LPVOID pv) { free(pv); }
