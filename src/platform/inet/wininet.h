// The inet component: the part of the platform's Internet API that the system
// calls, in its asynchronous mode. Sessions, connections and requests are
// HINTERNET handles; a call that would block answers ERROR_IO_PENDING and
// completes on the session's worker thread, which reports to the status
// callback. Transfers run on libcurl; time-outs, proxies, cookies and
// certificate checks follow the platform's rules (see the README's HTTP
// section).
#pragma once

#include "../kernel/windef.h"
#include "../kernel/winerror.h"

using HINTERNET = void *;
using LPHINTERNET = HINTERNET *;
using INTERNET_PORT = WORD;

#define INTERNET_INVALID_PORT_NUMBER 0
#define INTERNET_DEFAULT_FTP_PORT 21
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443

// ---- InternetOpenA ----------------------------------------------------------
#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3

#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_HTTP 3

// ---- Handle and request flags -----------------------------------------------
#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_RAW_DATA 0x40000000u
#define INTERNET_FLAG_EXISTING_CONNECT 0x20000000u
#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_PASSIVE 0x08000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_DONT_CACHE INTERNET_FLAG_NO_CACHE_WRITE
#define INTERNET_FLAG_MAKE_PERSISTENT 0x02000000u
#define INTERNET_FLAG_OFFLINE 0x01000000u
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_READ_PREFETCH 0x00100000u
#define INTERNET_FLAG_NO_COOKIES 0x00080000u
#define INTERNET_FLAG_NO_AUTH 0x00040000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP 0x00008000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS 0x00004000u
#define INTERNET_FLAG_IGNORE_CERT_DATE_INVALID 0x00002000u
#define INTERNET_FLAG_IGNORE_CERT_CN_INVALID 0x00001000u
#define INTERNET_FLAG_NO_UI 0x00000200u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u

// ---- Security flags (INTERNET_OPTION_SECURITY_FLAGS) -------------------------
#define SECURITY_FLAG_SECURE 0x00000001u
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080u
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100u
#define SECURITY_FLAG_IGNORE_WRONG_USAGE 0x00000200u
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID INTERNET_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_DATE_INVALID INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
#define SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP

// ---- Options ----------------------------------------------------------------
#define INTERNET_OPTION_CALLBACK 1
#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_CONTROL_SEND_TIMEOUT INTERNET_OPTION_SEND_TIMEOUT
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT INTERNET_OPTION_RECEIVE_TIMEOUT
#define INTERNET_OPTION_DATA_SEND_TIMEOUT 7
#define INTERNET_OPTION_DATA_RECEIVE_TIMEOUT 8
#define INTERNET_OPTION_HANDLE_TYPE 9
#define INTERNET_OPTION_REQUEST_FLAGS 23
#define INTERNET_OPTION_SECURITY_FLAGS 31
#define INTERNET_OPTION_URL 34
#define INTERNET_OPTION_USER_AGENT 41

#define INTERNET_HANDLE_TYPE_INTERNET 1
#define INTERNET_HANDLE_TYPE_CONNECT_HTTP 4
#define INTERNET_HANDLE_TYPE_HTTP_REQUEST 13

// ---- Status callback ----------------------------------------------------------
#define INTERNET_STATUS_RESOLVING_NAME 10
#define INTERNET_STATUS_NAME_RESOLVED 11
#define INTERNET_STATUS_CONNECTING_TO_SERVER 20
#define INTERNET_STATUS_CONNECTED_TO_SERVER 21
#define INTERNET_STATUS_SENDING_REQUEST 30
#define INTERNET_STATUS_REQUEST_SENT 31
#define INTERNET_STATUS_RECEIVING_RESPONSE 40
#define INTERNET_STATUS_RESPONSE_RECEIVED 41
#define INTERNET_STATUS_CLOSING_CONNECTION 50
#define INTERNET_STATUS_CONNECTION_CLOSED 51
#define INTERNET_STATUS_HANDLE_CREATED 60
#define INTERNET_STATUS_HANDLE_CLOSING 70
#define INTERNET_STATUS_REQUEST_COMPLETE 100
#define INTERNET_STATUS_REDIRECT 110

struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};
using LPINTERNET_ASYNC_RESULT = INTERNET_ASYNC_RESULT *;

using INTERNET_STATUS_CALLBACK = void(WINAPI *)(HINTERNET hInternet, DWORD_PTR dwContext,
                                                DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                                                DWORD dwStatusInformationLength);
#define INTERNET_INVALID_STATUS_CALLBACK                                                           \
    (reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<LONG_PTR>(-1)))

// ---- Reading ------------------------------------------------------------------
struct INTERNET_BUFFERSA {
    DWORD dwStructSize;
    INTERNET_BUFFERSA *Next;
    LPCSTR lpcszHeader;
    DWORD dwHeadersLength;
    DWORD dwHeadersTotal;
    LPVOID lpvBuffer;
    DWORD dwBufferLength;
    DWORD dwBufferTotal;
    DWORD dwOffsetLow;
    DWORD dwOffsetHigh;
};
using LPINTERNET_BUFFERSA = INTERNET_BUFFERSA *;
// The structure's size on the platform the system was written for, which the
// system passes as dwStructSize; accepted beside sizeof(INTERNET_BUFFERSA).
#define INTERNET_BUFFERSA_SIZE_32 40

#define IRF_ASYNC 0x00000001
#define IRF_SYNC 0x00000004
#define IRF_NO_WAIT 0x00000008

// ---- Headers ------------------------------------------------------------------
#define HTTP_QUERY_CONTENT_TYPE 1
#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_VERSION 18
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_STATUS_TEXT 20
#define HTTP_QUERY_RAW_HEADERS 21
#define HTTP_QUERY_RAW_HEADERS_CRLF 22
#define HTTP_QUERY_LOCATION 33
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u
#define HTTP_QUERY_MODIFIER_FLAGS_MASK 0xF0000000u

#define HTTP_ADDREQ_FLAG_ADD_IF_NEW 0x10000000u
#define HTTP_ADDREQ_FLAG_ADD 0x20000000u
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA 0x40000000u
#define HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON 0x01000000u
#define HTTP_ADDREQ_FLAG_COALESCE HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA
#define HTTP_ADDREQ_FLAG_REPLACE 0x80000000u

// ---- Connectivity and error dialogs -------------------------------------------
#define FLAG_ICC_FORCE_CONNECTION 0x00000001

#define FLAGS_ERROR_UI_FILTER_FOR_ERRORS 0x01
#define FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS 0x02
#define FLAGS_ERROR_UI_FLAGS_GENERATE_DATA 0x04
#define FLAGS_ERROR_UI_FLAGS_NO_UI 0x08

// ---- Errors -------------------------------------------------------------------
#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES 12001L
#define ERROR_INTERNET_TIMEOUT 12002L
#define ERROR_INTERNET_INTERNAL_ERROR 12004L
#define ERROR_INTERNET_INVALID_URL 12005L
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006L
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#define ERROR_INTERNET_INVALID_OPTION 12009L
#define ERROR_INTERNET_BAD_OPTION_LENGTH 12010L
#define ERROR_INTERNET_OPTION_NOT_SETTABLE 12011L
#define ERROR_INTERNET_SHUTDOWN 12012L
#define ERROR_INTERNET_INVALID_OPERATION 12016L
#define ERROR_INTERNET_OPERATION_CANCELLED 12017L
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#define ERROR_INTERNET_CANNOT_CONNECT 12029L
#define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#define ERROR_INTERNET_CONNECTION_RESET 12031L
#define ERROR_INTERNET_FORCE_RETRY 12032L
#define ERROR_INTERNET_INVALID_PROXY_REQUEST 12033L
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID 12037L
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038L
#define ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR 12039L
#define ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR 12040L
#define ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED 12044L
#define ERROR_INTERNET_INVALID_CA 12045L
#define ERROR_INTERNET_SEC_CERT_ERRORS 12055L
#define ERROR_HTTP_HEADER_NOT_FOUND 12150L
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152L
#define ERROR_HTTP_INVALID_QUERY_REQUEST 12154L
#define ERROR_HTTP_HEADER_ALREADY_EXISTS 12155L
#define ERROR_HTTP_REDIRECT_FAILED 12156L
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157L
#define ERROR_INTERNET_PROXY_SERVER_UNREACHABLE 12165L
#define ERROR_INTERNET_SEC_INVALID_CERT 12169L
#define ERROR_INTERNET_SEC_CERT_REVOKED 12170L
#define ERROR_INTERNET_DECODING_FAILED 12175L

// ---- Functions ------------------------------------------------------------------
extern "C" HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                                          LPCSTR lpszProxyBypass, DWORD dwFlags);
extern "C" INTERNET_STATUS_CALLBACK WINAPI
InternetSetStatusCallback(HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback);
extern "C" HINTERNET WINAPI InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                                             INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                                             LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                             DWORD_PTR dwContext);
extern "C" HINTERNET WINAPI HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb,
                                             LPCSTR lpszObjectName, LPCSTR lpszVersion,
                                             LPCSTR lpszReferrer, LPCSTR *lplpszAcceptTypes,
                                             DWORD dwFlags, DWORD_PTR dwContext);
extern "C" BOOL WINAPI HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders,
                                              DWORD dwHeadersLength, DWORD dwModifiers);
extern "C" BOOL WINAPI HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders,
                                        DWORD dwHeadersLength, LPVOID lpOptional,
                                        DWORD dwOptionalLength);
extern "C" BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                                      LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
extern "C" BOOL WINAPI InternetReadFileExA(HINTERNET hFile, LPINTERNET_BUFFERSA lpBuffersOut,
                                           DWORD dwFlags, DWORD_PTR dwContext);
extern "C" BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile,
                                                  LPDWORD lpdwNumberOfBytesAvailable, DWORD dwFlags,
                                                  DWORD_PTR dwContext);
extern "C" BOOL WINAPI InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                            LPDWORD lpdwBufferLength);
extern "C" BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                          DWORD dwBufferLength);
// With FLAG_ICC_FORCE_CONNECTION: the server reached as the requests reach
// it: through the proxy that applies to the URL (a CONNECT for https://, a
// HEAD for http://), else a real TCP connection to the URL's host and port
// (the scheme's default when none is named), made and closed at once.
extern "C" BOOL WINAPI InternetCheckConnectionA(LPCSTR lpszUrl, DWORD dwFlags, DWORD dwReserved);
// Shows the error's dialog through the UI host; returns ERROR_SUCCESS,
// ERROR_CANCELLED or ERROR_INTERNET_FORCE_RETRY.
extern "C" DWORD WINAPI InternetErrorDlg(HWND hWnd, HINTERNET hRequest, DWORD dwError,
                                         DWORD dwFlags, LPVOID *lppvData);
extern "C" BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);
// The cookies of the store (the calling thread's partition) that a request
// to the URL would send, HttpOnly ones left out: "name=value; name=value".
// FALSE with ERROR_NO_MORE_ITEMS when there are none. The name is not used.
extern "C" BOOL WINAPI InternetGetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName,
                                          LPSTR lpszCookieData, LPDWORD lpdwSize);
// Stores a cookie as if the URL's server had set it ("name=value;
// attributes", or the value and attributes of the named cookie): a session
// cookie without Expires or Max-Age. FALSE with ERROR_INVALID_OPERATION for
// a cookie that may not be set from there (HttpOnly ones included).
extern "C" BOOL WINAPI InternetSetCookieA(LPCSTR lpszUrl, LPCSTR lpszCookieName,
                                          LPCSTR lpszCookieData);
