// Error codes of the platform: last-error values and HRESULTs.
#pragma once

#include "windef.h"

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_DLL_INIT_FAILED 1114L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_CANCELLED 1223L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L
#define ERROR_MR_MID_NOT_FOUND 317L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define ERROR_INVALID_PRINTER_NAME 1801L
#define ERROR_TIMEOUT 1460L
#define ERROR_INVALID_PRINTER_STATE 1906L
#define ERROR_INVALID_OPERATION 4317L
#define WAIT_TIMEOUT 258L

#define S_OK (static_cast<HRESULT>(0L))
#define S_FALSE (static_cast<HRESULT>(1L))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define MAKE_HRESULT(sev, fac, code)                                                               \
    (static_cast<HRESULT>((static_cast<unsigned long>(sev) << 31) |                                \
                          (static_cast<unsigned long>(fac) << 16) |                                \
                          static_cast<unsigned long>(code)))
#define HRESULT_FROM_WIN32(x)                                                                      \
    (static_cast<HRESULT>(x) <= 0                                                                  \
         ? static_cast<HRESULT>(x)                                                                 \
         : static_cast<HRESULT>((static_cast<DWORD>(x) & 0x0000FFFF) | (7 << 16) | 0x80000000))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)

#define E_NOTIMPL (static_cast<HRESULT>(0x80004001L))
#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002L))
#define E_POINTER (static_cast<HRESULT>(0x80004003L))
#define E_ABORT (static_cast<HRESULT>(0x80004004L))
#define E_FAIL (static_cast<HRESULT>(0x80004005L))
#define E_UNEXPECTED (static_cast<HRESULT>(0x8000FFFFL))
#define E_ACCESSDENIED (static_cast<HRESULT>(0x80070005L))
#define E_HANDLE (static_cast<HRESULT>(0x80070006L))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000EL))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057L))
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110L))
#define CLASS_E_CLASSNOTAVAILABLE (static_cast<HRESULT>(0x80040111L))
#define REGDB_E_CLASSNOTREG (static_cast<HRESULT>(0x80040154L))
#define REGDB_E_READREGDB (static_cast<HRESULT>(0x80040150L))
#define REGDB_E_WRITEREGDB (static_cast<HRESULT>(0x80040151L))
#define REGDB_E_IIDNOTREG (static_cast<HRESULT>(0x80040155L))
#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0L))
#define CO_E_CLASSSTRING (static_cast<HRESULT>(0x800401F3L))
#define CO_E_DLLNOTFOUND (static_cast<HRESULT>(0x800401F8L))
#define CO_E_ERRORINDLL (static_cast<HRESULT>(0x800401F9L))
#define RPC_E_CHANGED_MODE (static_cast<HRESULT>(0x80010106L))
