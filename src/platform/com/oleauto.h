// Automation services: BSTR, VARIANT conversion and type libraries.
#pragma once

#include "oaidl.h"

extern "C" BSTR WINAPI SysAllocString(const OLECHAR *psz);
extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui);
extern "C" BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
extern "C" void WINAPI SysFreeString(BSTR bstrString);
extern "C" UINT WINAPI SysStringLen(BSTR pbstr);
extern "C" UINT WINAPI SysStringByteLen(BSTR bstr);

#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02

extern "C" void WINAPI VariantInit(VARIANTARG *pvarg);
extern "C" HRESULT WINAPI VariantClear(VARIANTARG *pvarg);
extern "C" HRESULT WINAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);
extern "C" HRESULT WINAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                            USHORT wFlags, VARTYPE vt);

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LANG_NEUTRAL 0

extern "C" HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib);
extern "C" HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                         ITypeLib **pptlib);
extern "C" HRESULT WINAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath,
                                          LPCOLESTR szHelpDir);
extern "C" HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor,
                                            LCID lcid, SYSKIND syskind);
// Calls a member of an interface described by its type information.
extern "C" HRESULT WINAPI DispInvoke(void *_this, ITypeInfo *ptinfo, DISPID dispidMember,
                                     WORD wFlags, DISPPARAMS *pparams, VARIANT *pvarResult,
                                     EXCEPINFO *pexcepinfo, UINT *puArgErr);
extern "C" HRESULT WINAPI DispGetIDsOfNames(ITypeInfo *ptinfo, LPOLESTR *rgszNames, UINT cNames,
                                            DISPID *rgdispid);
