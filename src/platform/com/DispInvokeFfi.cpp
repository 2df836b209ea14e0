// Calls an interface member through its table slot with arguments coerced
// to the parameter types the type information gives, through libffi.
//
// Arguments arrive in DISPPARAMS in reverse order. Each input is converted
// with VariantChangeType to its parameter's type; an [out, retval]
// parameter gets storage of its type, zero-filled, so a value the method
// does not write comes back as the zero of its type. A failing HRESULT of
// the member becomes DISP_E_EXCEPTION with the HRESULT in the exception
// information; success codes (S_FALSE included) pass through.
#include "Invoke.h"

#include <ffi.h>
#include <vector>

#include "../kernel/TextConvert.h"
#include "oleauto.h"

namespace platform {
namespace {

// One argument's storage: the converted VARIANT (inputs) or the out value.
struct Slot {
    VARIANT value;
    union {
        INT i;
        LONG l;
        SHORT s;
        BYTE b;
        DOUBLE d;
        FLOAT f;
        BSTR bstr;
        IDispatch *dispatch;
        VARIANT_BOOL boolean;
        VARIANT variant;
    } out;
    void *pointer;  // what an out parameter passes
    void *argument; // what libffi reads the argument from
};

ffi_type *FfiTypeOf(VARTYPE vt, bool pointer) {
    if (pointer)
        return &ffi_type_pointer;
    switch (vt) {
    case VT_I2:
    case VT_BOOL:
        return &ffi_type_sint16;
    case VT_UI1:
        return &ffi_type_uint8;
    case VT_I4:
    case VT_INT:
    case VT_HRESULT:
        return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
        return &ffi_type_uint32;
    case VT_R4:
        return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
        return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return &ffi_type_pointer;
    default:
        return nullptr;
    }
}

void *AddressOfValue(VARIANT &v) {
    switch (v.vt) {
    case VT_I2: return &v.iVal;
    case VT_BOOL: return &v.boolVal;
    case VT_UI1: return &v.bVal;
    case VT_R4: return &v.fltVal;
    case VT_R8: return &v.dblVal;
    case VT_DATE: return &v.date;
    case VT_BSTR: return &v.bstrVal;
    case VT_DISPATCH: return &v.pdispVal;
    default: return &v.lVal; // I4, INT, UI4, UINT
    }
}

// Hands an out value to the caller's result VARIANT, which takes ownership.
void StoreResult(const typelib::Param &param, Slot &slot, VARIANT *result) {
    if (!result) {
        if (param.vt == VT_BSTR)
            SysFreeString(slot.out.bstr);
        else if (param.vt == VT_DISPATCH && slot.out.dispatch)
            slot.out.dispatch->Release();
        else if (param.vt == VT_VARIANT)
            VariantClear(&slot.out.variant);
        return;
    }
    VariantInit(result);
    if (param.vt == VT_VARIANT) {
        *result = slot.out.variant;
        return;
    }
    result->vt = param.vt;
    switch (param.vt) {
    case VT_I2: result->iVal = slot.out.s; break;
    case VT_BOOL: result->boolVal = slot.out.boolean; break;
    case VT_UI1: result->bVal = slot.out.b; break;
    case VT_R4: result->fltVal = slot.out.f; break;
    case VT_R8: result->dblVal = slot.out.d; break;
    case VT_DATE: result->date = slot.out.d; break;
    case VT_BSTR: result->bstrVal = slot.out.bstr; break;
    case VT_DISPATCH: result->pdispVal = slot.out.dispatch; break;
    default: result->lVal = slot.out.l; break;
    }
}

void FillException(EXCEPINFO *info, HRESULT hr, const std::string &member) {
    if (!info)
        return;
    *info = EXCEPINFO{};
    info->scode = hr;
    std::u16string source = Utf8ToWide(member);
    info->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
}

} // namespace

HRESULT InvokeBySignature(void *instance, int slotIndex, const typelib::Function &fn,
                          DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                          UINT *argError) {
    if (!instance)
        return E_POINTER;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (params->cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;

    const size_t count = fn.params.size();
    size_t inputs = 0;
    for (const typelib::Param &p : fn.params)
        inputs += (p.flags & PARAMFLAG_FRETVAL) ? 0 : 1;
    if (params->cArgs > inputs)
        return DISP_E_BADPARAMCOUNT;
    if (params->cArgs < inputs)
        return DISP_E_PARAMNOTOPTIONAL;

    std::vector<Slot> slots(count);
    std::vector<ffi_type *> types(count + 1);
    std::vector<void *> values(count + 1);
    types[0] = &ffi_type_pointer;
    values[0] = &instance;

    HRESULT hr = S_OK;
    size_t next = 0; // the next input, counted from the first parameter
    int retval = -1;
    for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
        const typelib::Param &param = fn.params[i];
        Slot &slot = slots[i];
        VariantInit(&slot.value);
        memset(&slot.out, 0, sizeof slot.out);
        types[i + 1] = FfiTypeOf(param.vt, param.pointer);
        if (!types[i + 1] && !(param.pointer && param.vt == VT_VARIANT)) {
            hr = DISP_E_BADVARTYPE;
            break;
        }
        if (param.pointer) {
            if (!types[i + 1])
                types[i + 1] = &ffi_type_pointer;
            if (param.flags & PARAMFLAG_FRETVAL)
                retval = static_cast<int>(i);
            if (param.vt == VT_VARIANT)
                VariantInit(&slot.out.variant);
            slot.pointer = &slot.out;
            slot.argument = &slot.pointer;
            if (!(param.flags & PARAMFLAG_FRETVAL))
                ++next; // an [in, out] argument still takes its place in the list
        } else {
            VARIANT &argument = params->rgvarg[params->cArgs - 1 - next];
            hr = VariantChangeType(&slot.value, &argument, 0,
                                   param.vt == VT_INT ? static_cast<VARTYPE>(VT_I4) : param.vt);
            if (FAILED(hr) && argError)
                *argError = params->cArgs - 1 - static_cast<UINT>(next);
            ++next;
            slot.argument = AddressOfValue(slot.value);
        }
        values[i + 1] = slot.argument;
    }

    if (SUCCEEDED(hr)) {
        ffi_cif cif;
        if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count + 1), &ffi_type_sint32,
                         types.data()) != FFI_OK) {
            hr = DISP_E_BADVARTYPE;
        } else {
            void **table = *static_cast<void ***>(instance);
            ffi_arg returned = 0;
            ffi_call(&cif, FFI_FN(table[slotIndex]), &returned, values.data());
            HRESULT member = static_cast<HRESULT>(static_cast<int32_t>(returned));
            if (FAILED(member)) {
                FillException(exception, member, fn.name);
                hr = DISP_E_EXCEPTION;
            } else {
                hr = member;
            }
        }
    }

    for (size_t i = 0; i < count; ++i) {
        const typelib::Param &param = fn.params[i];
        VariantClear(&slots[i].value);
        if (static_cast<int>(i) == retval && hr != DISP_E_EXCEPTION && SUCCEEDED(hr))
            StoreResult(param, slots[i], result);
        else if (param.pointer)
            StoreResult(param, slots[i], nullptr); // releases what it holds
    }
    if (SUCCEEDED(hr) && retval < 0 && result)
        VariantInit(result);
    return hr;
}

} // namespace platform
