#include "Automation.h"

#include <cmath>
#include <climits>
#include <cstdio>
#include <strings.h>

#include "platform/kernel/TextConvert.h"

namespace {

void ToVariant(const ScriptValue &value, VARIANT &v) {
    VariantInit(&v);
    switch (value.kind) {
    case ScriptValue::Undefined:
        break;
    case ScriptValue::Null:
        v.vt = VT_NULL;
        break;
    case ScriptValue::Boolean:
        v.vt = VT_BOOL;
        v.boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case ScriptValue::Number:
        if (std::floor(value.number) == value.number && value.number >= INT_MIN &&
            value.number <= INT_MAX) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(value.number);
        } else {
            v.vt = VT_R8;
            v.dblVal = value.number;
        }
        break;
    case ScriptValue::String: {
        std::u16string wide = platform::Utf8ToWide(value.text);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        break;
    }
    case ScriptValue::Object:
        v.vt = VT_DISPATCH;
        v.pdispVal = value.object;
        if (v.pdispVal)
            v.pdispVal->AddRef();
        break;
    }
}

// A null BSTR reaches the script as the empty string, as in the browsers.
void FromVariant(VARIANT &v, ScriptValue &value) {
    value = ScriptValue{};
    switch (v.vt) {
    case VT_EMPTY:
        return;
    case VT_NULL:
        value.kind = ScriptValue::Null;
        return;
    case VT_BOOL:
        value.kind = ScriptValue::Boolean;
        value.boolean = v.boolVal != VARIANT_FALSE;
        return;
    case VT_BSTR:
        value.kind = ScriptValue::String;
        value.text = platform::WideToUtf8(v.bstrVal, SysStringLen(v.bstrVal));
        return;
    case VT_DISPATCH:
        value.kind = v.pdispVal ? ScriptValue::Object : ScriptValue::Null;
        value.object = v.pdispVal;
        if (value.object)
            value.object->AddRef();
        return;
    default: {
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, &v, 0, VT_R8))) {
            value.kind = ScriptValue::Number;
            value.number = number.dblVal;
        }
        return;
    }
    }
}

HRESULT Handshake(IUnknown *unknown, IDispatch **dispatch, std::string &error) {
    IObjectSafety *safety = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IObjectSafety, reinterpret_cast<void **>(&safety)))) {
        error = "the object is not marked safe for scripting";
        return E_ACCESSDENIED;
    }
    const DWORD wanted = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    DWORD supported = 0, enabled = 0;
    HRESULT hr = safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    if (SUCCEEDED(hr) && (supported & wanted) == wanted)
        hr = safety->SetInterfaceSafetyOptions(IID_IDispatch, wanted, wanted);
    else if (SUCCEEDED(hr))
        hr = E_ACCESSDENIED;
    safety->Release();
    if (FAILED(hr)) {
        error = "the object refuses to be scripted safely";
        return hr;
    }
    hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(dispatch));
    if (FAILED(hr))
        error = "the object has no IDispatch";
    return hr;
}

} // namespace

bool ParseClassId(const std::string &text, CLSID &clsid) {
    std::string rest = text;
    if (strncasecmp(rest.c_str(), "clsid:", 6) == 0)
        rest = rest.substr(6);
    if (rest.empty())
        return false;
    if (rest[0] != '{')
        rest = "{" + rest + "}";
    std::u16string wide = platform::Utf8ToWide(rest);
    return CLSIDFromString(wide.c_str(), &clsid) == S_OK;
}

HRESULT CreateScriptableObject(REFCLSID clsid, IDispatch **dispatch, std::string &error) {
    *dispatch = nullptr;
    IUnknown *unknown = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void **>(&unknown));
    if (FAILED(hr)) {
        error = "the object cannot be created";
        return hr;
    }
    hr = Handshake(unknown, dispatch, error);
    unknown->Release();
    return hr;
}

HRESULT CreateScriptableObject(const std::string &progId, IDispatch **dispatch, std::string &error) {
    *dispatch = nullptr;
    CLSID clsid;
    std::u16string wide = platform::Utf8ToWide(progId);
    HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr)) {
        error = "no class is registered as " + progId;
        return hr;
    }
    return CreateScriptableObject(clsid, dispatch, error);
}

bool FindMember(IDispatch *dispatch, const std::string &name, DISPID &id) {
    std::u16string wide = platform::Utf8ToWide(name);
    LPOLESTR names[1] = {wide.data()};
    return SUCCEEDED(dispatch->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
}

HRESULT CallMember(IDispatch *dispatch, DISPID id, const std::vector<ScriptValue> &args,
                   ScriptValue &result, HRESULT &failure) {
    // Arguments travel last first.
    std::vector<VARIANT> variants(args.size());
    for (size_t i = 0; i < args.size(); ++i)
        ToVariant(args[i], variants[args.size() - 1 - i]);
    DISPPARAMS params{variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
    VARIANT returned;
    VariantInit(&returned);
    EXCEPINFO exception{};
    UINT argError = 0;
    HRESULT hr = dispatch->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT,
                                  DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &returned,
                                  &exception, &argError);
    for (VARIANT &v : variants)
        VariantClear(&v);
    failure = hr == DISP_E_EXCEPTION && exception.scode ? exception.scode : hr;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (SUCCEEDED(hr))
        FromVariant(returned, result);
    VariantClear(&returned);
    return hr;
}

std::string CallFailureText(const std::string &member, HRESULT failure) {
    char code[16];
    snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(failure));
    return member + " failed: HRESULT " + code;
}

std::string CreateFailureText(const std::string &what, const std::string &error, HRESULT hr) {
    char code[16];
    snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return "Automation server can't create object " + what + ": " + error + " (HRESULT " + code +
           ")";
}
