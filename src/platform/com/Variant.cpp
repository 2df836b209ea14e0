// VARIANT lifetime and conversion between the types scripts and databases
// use: EMPTY, NULL, I2, I4, INT, UI1, R4, R8, BOOL, BSTR, DATE, DISPATCH,
// and, as sources, I8, DECIMAL and arrays of bytes.
//
// Numbers are rounded to integers half to even, as the platform does; out of
// range values give DISP_E_OVERFLOW, text that is not a number
// DISP_E_TYPEMISMATCH. A DISPATCH value converts through its default
// property (DISPID_VALUE). Dates are days since 30 December 1899, written as
// text in the ISO form "YYYY-MM-DD hh:mm:ss"; as the platform does, a date
// at midnight is written without its time and a time of day alone (day 0)
// without a date. Arrays of bytes (binary data) are written as two
// upper-case hexadecimal digits per byte.
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "../kernel/TextConvert.h"
#include "Decimal.h"
#include "oleauto.h"

namespace {

bool IsNumeric(VARTYPE vt) {
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_DATE:
    case VT_I1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

double NumberOf(const VARIANT &v) {
    switch (v.vt) {
    case VT_I2:
        return v.iVal;
    case VT_I4:
        return v.lVal;
    case VT_INT:
        return v.intVal;
    case VT_UI1:
        return v.bVal;
    case VT_R4:
        return v.fltVal;
    case VT_R8:
        return v.dblVal;
    case VT_BOOL:
        return v.boolVal ? -1 : 0;
    case VT_DATE:
        return v.date;
    case VT_I1:
        return v.cVal;
    case VT_UI2:
        return v.uiVal;
    case VT_UI4:
        return v.ulVal;
    case VT_UINT:
        return v.uintVal;
    case VT_I8:
        return static_cast<double>(v.llVal);
    case VT_UI8:
        return static_cast<double>(static_cast<ULONGLONG>(v.llVal));
    case VT_DECIMAL:
        return platform::DecimalToDouble(v.decVal);
    default:
        return 0;
    }
}

std::string Trimmed(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// ---- Dates --------------------------------------------------------------------

// Days from 1970-01-01 for a civil date (proleptic Gregorian).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, long &y, unsigned &m, unsigned &d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
}

constexpr long kDaysTo1899 = -25569; // 1899-12-30 counted from 1970-01-01

std::string DateText(DATE date) {
    double days = std::floor(date);
    long seconds = std::lround((date - days) * 86400.0);
    if (seconds >= 86400) {
        days += 1;
        seconds -= 86400;
    }
    long y;
    unsigned m, d;
    CivilFromDays(static_cast<long>(days) + kDaysTo1899, y, m, d);
    char text[96];
    if (days == 0)
        snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600, (seconds / 60) % 60,
                 seconds % 60);
    else if (seconds == 0)
        snprintf(text, sizeof text, "%04ld-%02u-%02u", y, m, d);
    else
        snprintf(text, sizeof text, "%04ld-%02u-%02u %02ld:%02ld:%02ld", y, m, d, seconds / 3600,
                 (seconds / 60) % 60, seconds % 60);
    return text;
}

bool ParseDate(const std::string &text, DATE &date) {
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    char sep1 = 0, sep2 = 0;
    int n = sscanf(text.c_str(), "%d%c%d%c%d %d:%d:%d", &y, &sep1, &m, &sep2, &d, &hh, &mm, &ss);
    if (n < 5 || sep1 != sep2 || (sep1 != '-' && sep1 != '/'))
        return false;
    if (y < 100 && d > 31) // month/day/year
        std::swap(y, d), std::swap(y, m);
    if (m < 1 || m > 12 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 59)
        return false;
    date = static_cast<double>(
               DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kDaysTo1899) +
           (hh * 3600 + mm * 60 + ss) / 86400.0;
    return true;
}

// ---- Text ---------------------------------------------------------------------

std::string NumberText(const VARIANT &v) {
    char text[64];
    switch (v.vt) {
    case VT_R4:
        snprintf(text, sizeof text, "%.7G", static_cast<double>(v.fltVal));
        return text;
    case VT_R8:
        snprintf(text, sizeof text, "%.15G", v.dblVal);
        return text;
    case VT_UI4:
    case VT_UINT:
        snprintf(text, sizeof text, "%u", v.vt == VT_UI4 ? v.ulVal : v.uintVal);
        return text;
    case VT_I8:
        snprintf(text, sizeof text, "%lld", static_cast<long long>(v.llVal));
        return text;
    case VT_UI8:
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(v.llVal));
        return text;
    case VT_DECIMAL:
        return platform::DecimalText(v.decVal);
    default:
        snprintf(text, sizeof text, "%.0f", NumberOf(v));
        return text;
    }
}

HRESULT ParseNumber(const std::string &raw, double &value) {
    std::string text = Trimmed(raw);
    if (text.empty())
        return DISP_E_TYPEMISMATCH;
    char *end = nullptr;
    errno = 0;
    value = strtod(text.c_str(), &end);
    if (*end)
        return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::isinf(value))
        return DISP_E_OVERFLOW;
    return S_OK;
}

HRESULT DefaultValue(IDispatch *dispatch, VARIANT &out) {
    VariantInit(&out);
    if (!dispatch)
        return DISP_E_TYPEMISMATCH;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    HRESULT hr = dispatch->Invoke(DISPID_VALUE, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out,
                                  nullptr, nullptr);
    if (FAILED(hr) || out.vt == VT_DISPATCH || out.vt == VT_UNKNOWN) {
        VariantClear(&out);
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT ToNumber(const VARIANT &src, VARTYPE vt, USHORT flags, double &value) {
    if (src.vt == VT_EMPTY) {
        value = 0;
        return S_OK;
    }
    if (IsNumeric(src.vt)) {
        value = NumberOf(src);
        return S_OK;
    }
    if (src.vt == VT_BSTR) {
        std::string text = Trimmed(platform::WideToUtf8(src.bstrVal, SysStringLen(src.bstrVal)));
        if (vt == VT_BOOL && strcasecmp(text.c_str(), "true") == 0) {
            value = -1;
            return S_OK;
        }
        if (vt == VT_BOOL && strcasecmp(text.c_str(), "false") == 0) {
            value = 0;
            return S_OK;
        }
        if (vt == VT_DATE && ParseDate(text, value))
            return S_OK;
        return ParseNumber(text, value);
    }
    if (src.vt == VT_DISPATCH && !(flags & VARIANT_NOVALUEPROP)) {
        VARIANT inner;
        HRESULT hr = DefaultValue(src.pdispVal, inner);
        if (FAILED(hr))
            return hr;
        hr = ToNumber(inner, vt, flags, value);
        VariantClear(&inner);
        return hr;
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT StoreNumber(VARIANT &dest, VARTYPE vt, double value) {
    if (std::isnan(value) && vt != VT_R8 && vt != VT_R4 && vt != VT_DATE)
        return DISP_E_OVERFLOW;
    double rounded = std::nearbyint(value); // half to even
    switch (vt) {
    case VT_I2:
        if (rounded < SHRT_MIN || rounded > SHRT_MAX)
            return DISP_E_OVERFLOW;
        dest.iVal = static_cast<SHORT>(rounded);
        break;
    case VT_I4:
    case VT_INT:
        if (rounded < INT_MIN || rounded > INT_MAX)
            return DISP_E_OVERFLOW;
        dest.lVal = static_cast<LONG>(rounded);
        break;
    case VT_UI1:
        if (rounded < 0 || rounded > 255)
            return DISP_E_OVERFLOW;
        dest.bVal = static_cast<BYTE>(rounded);
        break;
    case VT_R4:
        if (std::fabs(value) > FLT_MAX && !std::isinf(value))
            return DISP_E_OVERFLOW;
        dest.fltVal = static_cast<FLOAT>(value);
        break;
    case VT_R8:
        dest.dblVal = value;
        break;
    case VT_DATE:
        if (value < -657434.0 || value > 2958465.999999)
            return DISP_E_OVERFLOW;
        dest.date = value;
        break;
    case VT_BOOL:
        dest.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    dest.vt = vt;
    return S_OK;
}

std::string HexText(SAFEARRAY *array) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    LONG low = 0, high = -1;
    if (SafeArrayGetLBound(array, 1, &low) != S_OK || SafeArrayGetUBound(array, 1, &high) != S_OK)
        return text;
    const auto *bytes = static_cast<const BYTE *>(array->pvData);
    for (LONGLONG i = 0; i <= static_cast<LONGLONG>(high) - low; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

HRESULT ToText(const VARIANT &src, USHORT flags, std::string &text) {
    if (src.vt == (VT_ARRAY | VT_UI1)) {
        if (!src.parray || SafeArrayGetDim(src.parray) != 1)
            return DISP_E_TYPEMISMATCH;
        text = HexText(src.parray);
        return S_OK;
    }
    switch (src.vt) {
    case VT_EMPTY:
        text.clear();
        return S_OK;
    case VT_BSTR:
        text = platform::WideToUtf8(src.bstrVal, SysStringLen(src.bstrVal));
        return S_OK;
    case VT_BOOL:
        if (flags & VARIANT_ALPHABOOL)
            text = src.boolVal ? "True" : "False";
        else
            text = src.boolVal ? "-1" : "0";
        return S_OK;
    case VT_DATE:
        text = DateText(src.date);
        return S_OK;
    case VT_DISPATCH: {
        if (flags & VARIANT_NOVALUEPROP)
            return DISP_E_TYPEMISMATCH;
        VARIANT inner;
        HRESULT hr = DefaultValue(src.pdispVal, inner);
        if (FAILED(hr))
            return hr;
        hr = ToText(inner, flags, text);
        VariantClear(&inner);
        return hr;
    }
    default:
        if (IsNumeric(src.vt)) {
            text = NumberText(src);
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Convert(const VARIANT &src, USHORT flags, VARTYPE vt, VARIANT &out) {
    VariantInit(&out);
    switch (vt) {
    case VT_EMPTY:
        return src.vt == VT_EMPTY ? S_OK : DISP_E_TYPEMISMATCH;
    case VT_NULL:
        if (src.vt != VT_NULL)
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
        return S_OK;
    case VT_BSTR: {
        if (src.vt == VT_NULL)
            return DISP_E_TYPEMISMATCH;
        if (src.vt == VT_BSTR) {
            out.vt = VT_BSTR;
            out.bstrVal =
                src.bstrVal ? SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal)) : nullptr;
            return src.bstrVal && !out.bstrVal ? E_OUTOFMEMORY : S_OK;
        }
        std::string text;
        HRESULT hr = ToText(src, flags, text);
        if (FAILED(hr))
            return hr;
        std::u16string wide = platform::Utf8ToWide(text);
        out.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
    }
    case VT_DISPATCH:
        if (src.vt == VT_EMPTY) {
            out.vt = VT_DISPATCH;
            out.pdispVal = nullptr;
            return S_OK;
        }
        if (src.vt == VT_DISPATCH) {
            out = src;
            if (out.pdispVal)
                out.pdispVal->AddRef();
            return S_OK;
        }
        if (src.vt == VT_UNKNOWN && src.punkVal) {
            IDispatch *dispatch = nullptr;
            if (FAILED(src.punkVal->QueryInterface(IID_IDispatch,
                                                   reinterpret_cast<void **>(&dispatch))))
                return DISP_E_TYPEMISMATCH;
            out.vt = VT_DISPATCH;
            out.pdispVal = dispatch;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_DATE: {
        if (src.vt == VT_NULL)
            return DISP_E_TYPEMISMATCH;
        double value = 0;
        HRESULT hr = ToNumber(src, vt, flags, value);
        return FAILED(hr) ? hr : StoreNumber(out, vt, value);
    }
    default:
        return DISP_E_BADVARTYPE;
    }
}

} // namespace

extern "C" void WINAPI VariantInit(VARIANTARG *pvarg) {
    if (!pvarg)
        return;
    memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
}

extern "C" HRESULT WINAPI VariantClear(VARIANTARG *pvarg) {
    if (!pvarg)
        return E_INVALIDARG;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY)
            SafeArrayDestroy(pvarg->parray);
        switch (pvarg->vt) {
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (pvarg->punkVal)
                pvarg->punkVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

extern "C" HRESULT WINAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc) {
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    VARIANT copy = *pvargSrc;
    if (!(copy.vt & VT_BYREF)) {
        if (copy.vt == VT_BSTR && copy.bstrVal) {
            copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal) {
            copy.punkVal->AddRef();
        } else if ((copy.vt & VT_ARRAY) && copy.parray) {
            HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr))
                return hr;
        }
    }
    VariantClear(pvargDest);
    *pvargDest = copy;
    return S_OK;
}

extern "C" HRESULT WINAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                            USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    VARIANT source = *pvarSrc;
    if (source.vt & VT_BYREF) {
        // Read through the reference.
        VARTYPE base = source.vt & VT_TYPEMASK;
        if (!source.byref)
            return E_INVALIDARG;
        if (base == VT_VARIANT) {
            source = *source.pvarVal;
        } else {
            VARIANT value;
            VariantInit(&value);
            value.vt = base;
            switch (base) {
            case VT_I2:
                value.iVal = *source.piVal;
                break;
            case VT_I4:
                value.lVal = *source.plVal;
                break;
            case VT_INT:
                value.intVal = *source.pintVal;
                break;
            case VT_UI1:
                value.bVal = *source.pbVal;
                break;
            case VT_R8:
            case VT_DATE:
                value.dblVal = *source.pdblVal;
                break;
            case VT_BOOL:
                value.boolVal = *reinterpret_cast<VARIANT_BOOL *>(source.byref);
                break;
            case VT_BSTR:
                value.bstrVal = *source.pbstrVal;
                break;
            case VT_DISPATCH:
                value.pdispVal = *reinterpret_cast<IDispatch **>(source.byref);
                break;
            case VT_DECIMAL:
                value.decVal = *source.pdecVal;
                value.vt = VT_DECIMAL;
                break;
            default:
                return DISP_E_BADVARTYPE;
            }
            source = value;
        }
    }
    VARIANT converted;
    HRESULT hr = Convert(source, wFlags, vt, converted);
    if (FAILED(hr))
        return hr;
    VariantClear(pvargDest);
    *pvargDest = converted;
    return S_OK;
}

extern "C" INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE *pvtime) {
    if (!lpSystemTime || !pvtime)
        return FALSE;
    const SYSTEMTIME &t = *lpSystemTime;
    if (t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > 31 ||
        t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59)
        return FALSE;
    *pvtime = static_cast<double>(DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kDaysTo1899) +
              (t.wHour * 3600 + t.wMinute * 60 + t.wSecond) / 86400.0;
    return TRUE;
}
