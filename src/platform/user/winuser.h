// The user component: message boxes, the focus and desktop windows.
#pragma once

#include "../kernel/windef.h"

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONEXCLAMATION MB_ICONWARNING
#define MB_ICONINFORMATION 0x00000040u
#define MB_ICONMASK 0x000000F0u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Shows a modal message box through the UI host; returns the button chosen,
// or 0 when the box could not be shown.
extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
// The window with the keyboard focus: none here, as for an object that owns
// no window; boxes are then owned by the desktop.
extern "C" HWND WINAPI GetFocus();
extern "C" HWND WINAPI GetDesktopWindow();
extern "C" BOOL WINAPI IsWindow(HWND hWnd);

#define IMAGE_BITMAP 0
#define LR_DEFAULTCOLOR 0x00000000
#define LR_LOADFROMFILE 0x00000010
#define LR_CREATEDIBSECTION 0x00002000

// Loads a bitmap from a .bmp file (LR_LOADFROMFILE, name = path) or from a
// module's bitmap resources: 1, 4, 8, 16, 24 and 32-bit, bottom-up or
// top-down, BI_RGB, BI_BITFIELDS, BI_RLE8 and BI_RLE4, with the OS/2 core,
// 40-byte, V2, V3, V4 or V5 header. Printers' forms (JPEG, PNG) are refused.
extern "C" HANDLE WINAPI LoadImageA(HINSTANCE hInst, LPCSTR name, UINT type, int cx, int cy,
                                    UINT fuLoad);
extern "C" HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName);
