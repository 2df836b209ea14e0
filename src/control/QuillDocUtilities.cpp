// String and code utility methods: BeginCharOf, EncryptChar, GetCode.
#include "QuillDoc.h"

namespace {

// The pseudo-random generator of GetCode: a linear congruential generator
// with one state per thread.
thread_local DWORD t_randomState = 1;

void SeedRandom(DWORD seed) { t_randomState = seed; }

int NextRandom() {
    t_randomState = t_randomState * 214013u + 2531011u;
    return static_cast<int>((t_randomState >> 16) & 0x7FFF);
}

} // namespace

HRESULT STDMETHODCALLTYPE QuillDoc::BeginCharOf(BSTR bsIn, int nLength, BSTR bsPrefix, BSTR *pVal) {
    AnsiStr text;
    text.FromWide(bsIn);
    int characters = 0;
    text.ToWide(&characters);
    characters = characters > 0 ? characters - 1 : 0; // without the terminator

    AnsiStr prefix;
    prefix.FromWide(bsPrefix);
    const char pad = prefix.c_str()[0];

    AnsiStr result;
    const int count = nLength - characters;
    if (count > 0 && pad != 0) {
        for (int i = 0; i < count; ++i)
            result.AppendChar(pad);
        result.Append(text);
    } else {
        result.Assign(text);
        // Cut by bytes; a double-byte character may lose its second byte.
        if (nLength >= 0 && static_cast<DWORD>(nLength) < text.Length())
            result.Reserve(static_cast<DWORD>(nLength), false);
    }
    SetResult(result, pVal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::EncryptChar(BSTR bsIn, BSTR *pVal) {
    AnsiStr text;
    text.FromWide(bsIn);
    text.Trim();
    const int key = text.Length() ? static_cast<signed char>(text.c_str()[0]) : 0;
    AnsiStr result;
    char group[16];
    for (DWORD i = 0; i < text.Length(); ++i) {
        int value = static_cast<signed char>(text.c_str()[i]) + key;
        wsprintfA(group, "%02X", value);
        result.Append(group);
    }
    SetResult(result, pVal);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QuillDoc::GetCode(int nMin, int nMax, int *nRet) {
    if (nMin < 0 || nMin >= nMax)
        return S_OK;
    const DWORD now = timeGetTime();
    SeedRandom(now);
    for (DWORD i = 0; i < now % 20; ++i)
        NextRandom();
    const int r1 = NextRandom();
    const int r2 = NextRandom();
    // The product and sum wrap in 32 bits, as the original arithmetic does.
    const int32_t mixed = static_cast<int32_t>(static_cast<uint32_t>(nMax) * static_cast<uint32_t>(r1) +
                                               static_cast<uint32_t>(r2));
    const uint32_t magnitude = mixed < 0 ? 0u - static_cast<uint32_t>(mixed) : static_cast<uint32_t>(mixed);
    const uint32_t span = static_cast<uint32_t>(nMax) - static_cast<uint32_t>(nMin) + 1u;
    if (nRet)
        *nRet = nMin + static_cast<int>(magnitude % span);
    return S_OK;
}
