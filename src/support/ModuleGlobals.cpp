#include "ModuleGlobals.h"

namespace {

HINSTANCE FindThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&FindThisModule), &module);
    return module;
}

// Taken when the module is loaded, before any object exists.
const HINSTANCE g_hInstance = FindThisModule();

} // namespace

HINSTANCE ModuleInstance() { return g_hInstance ? g_hInstance : FindThisModule(); }

HWND OwnerWindow() { return nullptr; }
