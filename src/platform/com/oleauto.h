// Automation services: BSTR, VARIANT conversion and type libraries.
#pragma once

#include "../kernel/winbase.h"
#include "oaidl.h"

extern "C" BSTR WINAPI SysAllocString(const OLECHAR *psz);
extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui);
extern "C" BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
// Makes *pbstr a string of len characters copied from psz (which may lie
// inside it), keeping its block where it can; FALSE leaves it as it was.
extern "C" INT WINAPI SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len);
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

// A calendar time as a DATE (days since 30 December 1899); milliseconds
// are ignored, as the platform does. FALSE for a time out of range.
extern "C" INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE *pvtime);

// Safe arrays of fixed-size elements (numbers, bytes).
extern "C" SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound);
extern "C" SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
extern "C" HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa);
extern "C" HRESULT WINAPI SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut);
extern "C" HRESULT WINAPI SafeArrayAccessData(SAFEARRAY *psa, void **ppvData);
extern "C" HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY *psa);
extern "C" UINT WINAPI SafeArrayGetDim(SAFEARRAY *psa);
extern "C" UINT WINAPI SafeArrayGetElemsize(SAFEARRAY *psa);
extern "C" HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound);
extern "C" HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound);

#define DISP_E_ARRAYISLOCKED (static_cast<HRESULT>(0x8002000DL))

// The error object of the calling thread: set by a failing object, taken
// (and cleared) by the caller.
extern "C" HRESULT WINAPI SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo);
extern "C" HRESULT WINAPI GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo);
extern "C" HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo **pperrinfo);

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
