// The script engine on MuJS.
//
// MuJS reports errors by unwinding with longjmp, so the functions it calls
// keep C++ objects with destructors inside helpers that return before any
// error is raised.
#include "ScriptEngine.h"

#include <cstdio>
#include <cstring>
#include <mujs.h>
#include <vector>

#include "Automation.h"
#include "platform/kernel/TextConvert.h"

namespace {

constexpr const char *kDispatchTag = "IDispatch";

struct MethodRef {
    IDispatch *dispatch;
    DISPID id;
    char name[128];
};

void PushDispatch(js_State *J, IDispatch *dispatch);

void FinalizeDispatch(js_State *, void *data) { static_cast<IDispatch *>(data)->Release(); }

void FinalizeMethod(js_State *, void *data) {
    auto *ref = static_cast<MethodRef *>(data);
    ref->dispatch->Release();
    delete ref;
}

ScriptValue ReadValue(js_State *J, int index) {
    ScriptValue value;
    if (js_isundefined(J, index)) {
        value.kind = ScriptValue::Undefined;
    } else if (js_isnull(J, index)) {
        value.kind = ScriptValue::Null;
    } else if (js_isboolean(J, index)) {
        value.kind = ScriptValue::Boolean;
        value.boolean = js_toboolean(J, index) != 0;
    } else if (js_isnumber(J, index)) {
        value.kind = ScriptValue::Number;
        value.number = js_tonumber(J, index);
    } else if (js_isuserdata(J, index, kDispatchTag)) {
        value.kind = ScriptValue::Object;
        value.object = static_cast<IDispatch *>(js_touserdata(J, index, kDispatchTag));
    } else {
        value.kind = ScriptValue::String;
        value.text = js_tostring(J, index);
    }
    return value;
}

void PushValue(js_State *J, const ScriptValue &value) {
    switch (value.kind) {
    case ScriptValue::Undefined:
        js_pushundefined(J);
        break;
    case ScriptValue::Null:
        js_pushnull(J);
        break;
    case ScriptValue::Boolean:
        js_pushboolean(J, value.boolean);
        break;
    case ScriptValue::Number:
        js_pushnumber(J, value.number);
        break;
    case ScriptValue::String:
        js_pushstring(J, value.text.c_str());
        break;
    case ScriptValue::Object:
        PushDispatch(J, value.object);
        break;
    }
}

// Calls the member and pushes its result; false with a message and the
// member's HRESULT on failure.
bool CallAndPush(js_State *J, MethodRef *ref, char (&message)[256], HRESULT &failure) {
    std::vector<ScriptValue> args;
    for (int i = 1; i < js_gettop(J); ++i)
        args.push_back(ReadValue(J, i));
    ScriptValue result;
    HRESULT hr = CallMember(ref->dispatch, ref->id, args, result, failure);
    if (FAILED(hr)) {
        snprintf(message, sizeof message, "%s", CallFailureText(ref->name, failure).c_str());
        return false;
    }
    PushValue(J, result);
    if (result.object)
        result.object->Release();
    return true;
}

void CallMethod(js_State *J) {
    auto *ref = static_cast<MethodRef *>(js_currentfunctiondata(J));
    char message[256];
    HRESULT failure = S_OK;
    if (CallAndPush(J, ref, message, failure))
        return;
    // The error carries the HRESULT in `number`, as a browser's does.
    js_newerror(J, message);
    js_pushnumber(J, static_cast<int32_t>(failure));
    js_setproperty(J, -2, "number");
    js_throw(J);
}

// Property reads on an object: its members come back as callable methods.
int HasMember(js_State *J, void *data, const char *name) {
    auto *dispatch = static_cast<IDispatch *>(data);
    DISPID id = 0;
    if (!FindMember(dispatch, name, id))
        return 0;
    auto *ref = new MethodRef{dispatch, id, {}};
    snprintf(ref->name, sizeof ref->name, "%s", name);
    dispatch->AddRef();
    js_newcfunctionx(J, CallMethod, name, 0, ref, FinalizeMethod);
    return 1;
}

void PushDispatch(js_State *J, IDispatch *dispatch) {
    dispatch->AddRef();
    js_newobject(J); // the prototype
    js_newuserdatax(J, kDispatchTag, dispatch, HasMember, nullptr, nullptr, FinalizeDispatch);
}

bool CreateByProgId(const char *progId, IDispatch **dispatch, char (&message)[256]) {
    std::string error;
    HRESULT hr = CreateScriptableObject(progId, dispatch, error);
    if (FAILED(hr))
        snprintf(message, sizeof message, "%s", CreateFailureText(progId, error, hr).c_str());
    return SUCCEEDED(hr);
}

void NewActiveXObject(js_State *J) {
    const char *progId = js_tostring(J, 1);
    IDispatch *dispatch = nullptr;
    char message[256];
    if (!CreateByProgId(progId, &dispatch, message))
        js_error(J, "%s", message);
    PushDispatch(J, dispatch);
    dispatch->Release();
}

std::string JoinedArguments(js_State *J) {
    std::string text;
    for (int i = 1; i < js_gettop(J); ++i) {
        if (i > 1)
            text += ' ';
        text += js_tostring(J, i);
    }
    return text;
}

void ShowAlert(const std::string &text) {
    std::string ansi = platform::Utf8ToAnsi(text);
    MessageBoxA(GetFocus(), ansi.c_str(), "Script", MB_OK | MB_ICONWARNING);
}

void Print(js_State *J) {
    std::string text = JoinedArguments(J) + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    js_pushundefined(J);
}

void Alert(js_State *J) {
    ShowAlert(js_gettop(J) > 1 ? js_tostring(J, 1) : "");
    js_pushundefined(J);
}

void Report(js_State *, const char *message) { fprintf(stderr, "%s\n", message); }

} // namespace

ScriptEngine::ScriptEngine() : m_state(js_newstate(nullptr, nullptr, 0)) {
    js_setreport(m_state, Report);
    js_newcfunction(m_state, Print, "print", 0);
    js_setglobal(m_state, "print");
    js_newcfunction(m_state, Alert, "alert", 1);
    js_setglobal(m_state, "alert");
    js_newobject(m_state); // the constructor's prototype property
    js_newcconstructor(m_state, NewActiveXObject, NewActiveXObject, "ActiveXObject", 1);
    js_setglobal(m_state, "ActiveXObject");
    js_pushglobal(m_state);
    js_setglobal(m_state, "window");
}

ScriptEngine::~ScriptEngine() { js_freestate(m_state); }

bool ScriptEngine::Run(const std::string &code, const std::string &origin) {
    if (js_ploadstring(m_state, origin.c_str(), code.c_str()) == 0) {
        js_pushundefined(m_state);
        if (js_pcall(m_state, 0) == 0) {
            js_pop(m_state, 1);
            return true;
        }
    }
    fprintf(stderr, "%s: %s\n", origin.c_str(), js_trystring(m_state, -1, "error"));
    js_pop(m_state, 1);
    return false;
}

void ScriptEngine::Bind(const std::string &name, IDispatch *dispatch) {
    PushDispatch(m_state, dispatch);
    js_setglobal(m_state, name.c_str());
}

bool ScriptEngine::CallWindowOnload() {
    js_getglobal(m_state, "onload");
    if (!js_iscallable(m_state, -1)) {
        js_pop(m_state, 1);
        return true;
    }
    js_pushglobal(m_state);
    if (js_pcall(m_state, 0) == 0) {
        js_pop(m_state, 1);
        return true;
    }
    fprintf(stderr, "onload: %s\n", js_trystring(m_state, -1, "error"));
    js_pop(m_state, 1);
    return false;
}
