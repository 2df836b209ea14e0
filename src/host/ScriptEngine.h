// ScriptEngine: a JavaScript interpreter with the host objects a page's
// script expects: ActiveXObject, alert, print and window.
#pragma once

#include <string>

#include "platform/win32.h"

struct js_State;

class ScriptEngine {
public:
    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine &) = delete;
    ScriptEngine &operator=(const ScriptEngine &) = delete;

    // Runs code; false (with the error on stderr) when it throws.
    bool Run(const std::string &code, const std::string &origin);
    // Makes an object a global variable (an <object> tag's id).
    void Bind(const std::string &name, IDispatch *dispatch);
    // Calls window.onload when the page set one; false when it throws.
    bool CallWindowOnload();

private:
    js_State *m_state;
};
