// Message boxes and the few windows the system asks about.
#include <string>

#include "../kernel/winbase.h"
#include "../kernel/TextConvert.h"
#include "UiHost.h"

namespace {

// The desktop is the only window here; its handle is a fixed value.
const HWND kDesktop = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x10010));

} // namespace

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (hWnd && hWnd != kDesktop) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::string caption = lpCaption ? platform::AnsiToUtf8(lpCaption) : "Error";
    return platform::UiHost::Current().MessageBox(hWnd, platform::AnsiToUtf8(lpText), caption, uType);
}

extern "C" HWND WINAPI GetFocus() { return nullptr; }

extern "C" HWND WINAPI GetDesktopWindow() { return kDesktop; }

extern "C" BOOL WINAPI IsWindow(HWND hWnd) { return hWnd == kDesktop ? TRUE : FALSE; }
