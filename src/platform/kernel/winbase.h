// The kernel component: last error, strings, files, paths, global memory,
// synchronisation, threads, time, modules and resources.
#pragma once

#include <cstdarg>

#include "windef.h"
#include "winerror.h"

// ---- Last error -------------------------------------------------------------
extern "C" DWORD WINAPI GetLastError();
extern "C" void WINAPI SetLastError(DWORD dwErrCode);

// ---- Strings ----------------------------------------------------------------
extern "C" int WINAPI lstrlenA(LPCSTR lpString);
extern "C" int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
extern "C" int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
extern "C" LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
// Formats at most 1024 characters, as the platform's own formatter does. Sizes
// follow the platform: %d and %ld take 32-bit values, %I64d a 64-bit one.
extern "C" int WINAPI wsprintfA(LPSTR buffer, LPCSTR format, ...);
extern "C" int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args);
// The same formatter with an explicit output limit (characters, without the
// terminator); used where a buffer is smaller than the formatter's 1024.
int FormatTextA(LPSTR buffer, int limit, LPCSTR format, va_list args);

// ---- Files ------------------------------------------------------------------
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(-1))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE hTemplateFile);
extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                       PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile);
extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile);
extern "C" BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh);
extern "C" BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                  DWORD nNumberOfBytesToUnlockLow,
                                  DWORD nNumberOfBytesToUnlockHigh);
extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard };
// Attributes, times (100 ns units since 1601) and size of a file.
extern "C" BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                            LPVOID lpFileInformation);
extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes);
extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName);

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008
// Renames a file in one step, within one file system (a move across file
// systems fails with ERROR_NOT_SAME_DEVICE). WRITE_THROUGH returns only once
// the file's data and its new name are on the disk.
extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
extern "C" BOOL WINAPI CloseHandle(HANDLE hObject);

// Wide names reach every file, those the ANSI code page cannot spell too.
extern "C" HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE hTemplateFile);
extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);

// Directory listings: the entries of the pattern's folder whose names match
// its last part ('*' any run, '?' one character, case ignored). ANSI names of
// characters the code page lacks hold '?' there; the wide listing has them.
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA *lpFindFileData);
extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData);
extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW *lpFindFileData);
extern "C" BOOL WINAPI FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW *lpFindFileData);
extern "C" BOOL WINAPI FindClose(HANDLE hFindFile);

// ---- Paths ------------------------------------------------------------------
extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                                         LPSTR *lpFilePart);
extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// ---- Time -------------------------------------------------------------------
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
using LPSYSTEMTIME = SYSTEMTIME *;

// ---- Global memory ----------------------------------------------------------
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem);
extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
extern "C" SIZE_T WINAPI GlobalSize(HGLOBAL hMem);

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem);

// ---- System messages ---------------------------------------------------------
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) (static_cast<WORD>((static_cast<WORD>(s) << 10) | static_cast<WORD>(p)))

// The text of a system error code or HRESULT from the system's message
// table (FORMAT_MESSAGE_FROM_SYSTEM; inserts are not expanded), ending with
// CR LF. 0 with ERROR_MR_MID_NOT_FOUND when the system has no text for it.
extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                       DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                       va_list *Arguments);

// ---- Synchronisation --------------------------------------------------------
// A critical section is recursive for its owning thread, as the platform's is.
struct CRITICAL_SECTION {
    void *Impl;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION *;

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// The interlocked operations are full barriers and work on shared memory
// between processes too.
inline LONG InterlockedIncrement(LONG volatile *p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile *p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile *p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile *p, LONG v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile *p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                      BOOL bInitialState, LPCSTR lpName);
extern "C" BOOL WINAPI SetEvent(HANDLE hEvent);
extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent);
extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds);

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpAttributes,
                                            DWORD flProtect, DWORD dwMaximumSizeHigh,
                                            DWORD dwMaximumSizeLow, LPCSTR lpName);
extern "C" LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                       DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                       SIZE_T dwNumberOfBytesToMap);
extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);

// ---- Threads and processes --------------------------------------------------
using LPTHREAD_START_ROUTINE = DWORD(WINAPI *)(LPVOID lpThreadParameter);
#define STILL_ACTIVE 259
#define CREATE_SUSPENDED 0x00000004
#define THREAD_TERMINATE 0x0001
#define THREAD_SUSPEND_RESUME 0x0002
#define THREAD_QUERY_INFORMATION 0x0040
#define SYNCHRONIZE 0x00100000

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                      LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                      DWORD dwCreationFlags, LPDWORD lpThreadId);
extern "C" HANDLE WINAPI OpenThread(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwThreadId);
extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
extern "C" BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode);
extern "C" DWORD WINAPI ResumeThread(HANDLE hThread);
extern "C" DWORD WINAPI SuspendThread(HANDLE hThread);
extern "C" DWORD WINAPI GetCurrentThreadId();
extern "C" DWORD WINAPI GetCurrentProcessId();
extern "C" void WINAPI Sleep(DWORD dwMilliseconds);
extern "C" BOOL WINAPI SwitchToThread();

// ---- Time -------------------------------------------------------------------
extern "C" DWORD WINAPI timeGetTime();
extern "C" DWORD WINAPI GetTickCount();

// ---- Modules and resources --------------------------------------------------
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

// LoadLibraryExA: a module's file read for its resources only, never run.
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_HTML MAKEINTRESOURCEA(23)

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
extern "C" HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule);
extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
extern "C" BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule);
extern "C" BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule);
extern "C" HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
extern "C" HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
extern "C" DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData);
extern "C" BOOL WINAPI FreeResource(HGLOBAL hResData);
extern "C" int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
