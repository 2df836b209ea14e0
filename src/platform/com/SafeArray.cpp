// Safe arrays of fixed-size elements: the descriptor with its bounds, and
// the elements in one block. Arrays of BSTRs, VARIANTs or interfaces (whose
// elements would need their own copying and release) are not made.
#include <cstdlib>
#include <cstring>

#include "oleauto.h"

namespace {

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
        return 8;
    case VT_DECIMAL:
        return sizeof(DECIMAL);
    default:
        return 0;
    }
}

size_t DescriptorSize(UINT cDims) {
    return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
}

// The number of elements, or 0 with overflow set when it does not fit.
size_t ElementCount(const SAFEARRAY &array, bool &overflow) {
    size_t count = 1;
    overflow = false;
    for (USHORT i = 0; i < array.cDims; ++i) {
        size_t n = array.rgsabound[i].cElements;
        if (n != 0 && count > SIZE_MAX / n) {
            overflow = true;
            return 0;
        }
        count *= n;
    }
    return count;
}

SAFEARRAY *Make(ULONG elementSize, UINT cDims, const SAFEARRAYBOUND *bounds) {
    if (elementSize == 0 || cDims == 0 || cDims > 64 || !bounds)
        return nullptr;
    auto *array = static_cast<SAFEARRAY *>(calloc(1, DescriptorSize(cDims)));
    if (!array)
        return nullptr;
    array->cDims = static_cast<USHORT>(cDims);
    array->cbElements = elementSize;
    // The platform keeps the bounds with the last dimension first.
    for (UINT i = 0; i < cDims; ++i)
        array->rgsabound[i] = bounds[cDims - 1 - i];
    bool overflow = false;
    size_t count = ElementCount(*array, overflow);
    if (overflow || count > SIZE_MAX / elementSize) {
        free(array);
        return nullptr;
    }
    array->pvData = calloc(count ? count : 1, elementSize);
    if (!array->pvData) {
        free(array);
        return nullptr;
    }
    return array;
}

} // namespace

extern "C" SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound) {
    return Make(ElementSize(vt), cDims, rgsabound);
}

extern "C" SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return Make(ElementSize(vt), 1, &bound);
}

extern "C" HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa) {
    if (!psa)
        return S_OK;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    free(psa->pvData);
    free(psa);
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut) {
    if (!ppsaOut)
        return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa)
        return S_OK;
    SAFEARRAYBOUND bounds[64] = {};
    if (psa->cDims == 0 || psa->cDims > 64)
        return E_INVALIDARG;
    for (UINT i = 0; i < psa->cDims; ++i)
        bounds[i] = psa->rgsabound[psa->cDims - 1 - i];
    SAFEARRAY *copy = Make(psa->cbElements, psa->cDims, bounds);
    if (!copy)
        return E_OUTOFMEMORY;
    bool overflow = false;
    memcpy(copy->pvData, psa->pvData, ElementCount(*psa, overflow) * psa->cbElements);
    *ppsaOut = copy;
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayAccessData(SAFEARRAY *psa, void **ppvData) {
    if (!psa || !ppvData)
        return E_INVALIDARG;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY *psa) {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks == 0)
        return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

extern "C" UINT WINAPI SafeArrayGetDim(SAFEARRAY *psa) {
    return psa ? psa->cDims : 0;
}

extern "C" UINT WINAPI SafeArrayGetElemsize(SAFEARRAY *psa) {
    return psa ? psa->cbElements : 0;
}

extern "C" HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound) {
    if (!psa || !plLbound)
        return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

extern "C" HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound) {
    if (!psa || !plUbound)
        return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(bound.lLbound + static_cast<LONGLONG>(bound.cElements) - 1);
    return S_OK;
}
