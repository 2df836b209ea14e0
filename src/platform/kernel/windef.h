// Basic types of the platform, with the sizes the system's code relies on.
//
// The platform's integer types keep their 32-bit widths on LP64 Linux: DWORD
// and LONG are 32 bits, handles and pointer-sized integers are 64 bits. WCHAR
// is a 16-bit UTF-16 code unit, so wide literals are written u"...".
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define CONST const

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using UCHAR = unsigned char;
using WCHAR = char16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using FLOAT = float;
using DOUBLE = double;

using PVOID = void *;
using LPVOID = void *;
using LPCVOID = const void *;
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using PDWORD = DWORD *;
using LPLONG = LONG *;
using PLONG = LONG *;
using LPWORD = WORD *;
using LPBOOL = BOOL *;
using LPINT = INT *;
using LPSTR = char *;
using LPCSTR = const char *;
using PSTR = char *;
using PCSTR = const char *;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;
using PWSTR = WCHAR *;
using PCWSTR = const WCHAR *;
using LPCH = char *;
using LPWCH = WCHAR *;

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = LONG;
using ATOM = WORD;
using COLORREF = DWORD;
using LCID = DWORD;
using LANGID = WORD;

using HANDLE = void *;
using PHANDLE = HANDLE *;
using LPHANDLE = HANDLE *;
using HGLOBAL = HANDLE;
using HLOCAL = HANDLE;

#define DECLARE_HANDLE(name)                                                                       \
    struct name##__ {                                                                              \
        int unused;                                                                                \
    };                                                                                             \
    using name = name##__ *

DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HRSRC);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HPEN);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HICON);
using HMODULE = HINSTANCE;
using PHKEY = HKEY *;
using HGDIOBJ = void *;
using REGSAM = DWORD;

using FARPROC = LONG_PTR (*)();
using PROC = FARPROC;

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKELONG(a, b) (static_cast<LONG>(static_cast<WORD>(a) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT *;
using LPCRECT = const RECT *;

struct POINT {
    LONG x;
    LONG y;
};
using LPPOINT = POINT *;

struct SIZE {
    LONG cx;
    LONG cy;
};
using LPSIZE = SIZE *;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;

struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED *;
