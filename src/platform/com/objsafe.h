// IObjectSafety: how an object tells a browser it is safe to script.
#pragma once

#include "unknwn.h"

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

inline constexpr IID IID_IObjectSafety = {
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

struct IObjectSafety : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID riid,
                                                                DWORD *pdwSupportedOptions,
                                                                DWORD *pdwEnabledOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                                DWORD dwEnabledOptions) = 0;
};
