// The host's side of automation: creating objects as a browser does and
// calling their members by name.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

// A value crossing between the script and an object.
struct ScriptValue {
    enum Kind { Undefined, Null, Boolean, Number, String, Object };
    Kind kind = Undefined;
    bool boolean = false;
    double number = 0;
    std::string text;             // UTF-8
    IDispatch *object = nullptr;  // owned reference when kind is Object
};

// Creates an object by class ID or ProgID, performs the safety handshake a
// browser performs before scripting it (safe for untrusted callers and data
// on IDispatch), and returns its IDispatch. On failure, `error` says why.
HRESULT CreateScriptableObject(REFCLSID clsid, IDispatch **dispatch, std::string &error);
HRESULT CreateScriptableObject(const std::string &progId, IDispatch **dispatch, std::string &error);

// The DISPID of a member, or false when the object has none by that name.
bool FindMember(IDispatch *dispatch, const std::string &name, DISPID &id);

// Calls a member as a method (or property get). A failing member gives its
// HRESULT in `failure` (unwrapped from DISP_E_EXCEPTION).
HRESULT CallMember(IDispatch *dispatch, DISPID id, const std::vector<ScriptValue> &args,
                   ScriptValue &result, HRESULT &failure);

// Parses "clsid:XXXXXXXX-..." (with or without braces).
bool ParseClassId(const std::string &text, CLSID &clsid);

// The messages a script's exception carries: a member that failed, and an
// object that could not be created (`error` says why, `what` names it).
std::string CallFailureText(const std::string &member, HRESULT failure);
std::string CreateFailureText(const std::string &what, const std::string &error, HRESULT hr);
