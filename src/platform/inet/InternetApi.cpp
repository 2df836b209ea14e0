// The inet component's entry points: each finds its handle's object and
// hands the call on.
#include <cstring>

#include "HttpRequest.h"

using namespace platform::inet;

namespace {

void Created(InternetObject &object) {
    INTERNET_ASYNC_RESULT result{reinterpret_cast<DWORD_PTR>(object.Handle()), ERROR_SUCCESS};
    object.Notify(INTERNET_STATUS_HANDLE_CREATED, &result, sizeof(result));
}

std::shared_ptr<HttpRequest> RequestOf(HINTERNET handle) {
    return LookupInternetHandleAs<HttpRequest>(handle, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}

bool IsTimeoutOption(DWORD option) {
    return option == INTERNET_OPTION_CONNECT_TIMEOUT || option == INTERNET_OPTION_SEND_TIMEOUT ||
           option == INTERNET_OPTION_RECEIVE_TIMEOUT ||
           option == INTERNET_OPTION_DATA_SEND_TIMEOUT ||
           option == INTERNET_OPTION_DATA_RECEIVE_TIMEOUT;
}

DWORD &TimeoutField(Timeouts &timeouts, DWORD option) {
    switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        return timeouts.connect;
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        return timeouts.send;
    default:
        return timeouts.receive;
    }
}

BOOL AnswerText(const std::string &text, LPVOID buffer, LPDWORD length) {
    if (!buffer || *length < text.size() + 1) {
        *length = static_cast<DWORD>(text.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<DWORD>(text.size());
    return TRUE;
}

} // namespace

extern "C" HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                                          LPCSTR lpszProxyBypass, DWORD dwFlags) {
    auto session =
        InternetSession::Create(lpszAgent, dwAccessType, lpszProxy, lpszProxyBypass, dwFlags);
    if (!session)
        return nullptr;
    SetLastError(ERROR_SUCCESS);
    return session->Handle();
}

extern "C" INTERNET_STATUS_CALLBACK WINAPI
InternetSetStatusCallback(HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
    auto object = LookupInternetHandle(hInternet);
    if (!object)
        return INTERNET_INVALID_STATUS_CALLBACK;
    return object->SetCallback(lpfnInternetCallback);
}

extern "C" HINTERNET WINAPI InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                                             INTERNET_PORT nServerPort, LPCSTR, LPCSTR,
                                             DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext) {
    auto session =
        LookupInternetHandleAs<InternetSession>(hInternet, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    if (!session)
        return nullptr;
    if (!lpszServerName || !*lpszServerName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwService != INTERNET_SERVICE_HTTP) {
        SetLastError(ERROR_NOT_SUPPORTED); // only HTTP is part of this platform
        return nullptr;
    }
    auto connection = std::make_shared<InternetConnection>(session, lpszServerName, nServerPort,
                                                           dwService, dwFlags, dwContext);
    if (!connection->Register())
        return nullptr;
    session->AddChild(connection);
    Created(*connection);
    SetLastError(ERROR_SUCCESS);
    return connection->Handle();
}

extern "C" HINTERNET WINAPI HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb,
                                             LPCSTR lpszObjectName, LPCSTR, LPCSTR lpszReferrer,
                                             LPCSTR *lplpszAcceptTypes, DWORD dwFlags,
                                             DWORD_PTR dwContext) {
    auto connection =
        LookupInternetHandleAs<InternetConnection>(hConnect, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    if (!connection)
        return nullptr;
    auto request = connection->MakeChild<HttpRequest>(lpszVerb, lpszObjectName, lpszReferrer,
                                                      lplpszAcceptTypes, dwFlags, dwContext);
    if (!request)
        return nullptr;
    Created(*request);
    SetLastError(ERROR_SUCCESS);
    return request->Handle();
}

extern "C" BOOL WINAPI HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders,
                                              DWORD dwHeadersLength, DWORD dwModifiers) {
    auto request = RequestOf(hRequest);
    if (!request)
        return FALSE;
    if (!lpszHeaders) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return request->AddHeaders(lpszHeaders, dwHeadersLength, dwModifiers);
}

extern "C" BOOL WINAPI HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders,
                                        DWORD dwHeadersLength, LPVOID lpOptional,
                                        DWORD dwOptionalLength) {
    auto request = RequestOf(hRequest);
    if (!request)
        return FALSE;
    if (!lpOptional && dwOptionalLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return request->Send(lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength);
}

extern "C" BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                                      LPDWORD lpdwBufferLength, LPDWORD) {
    auto request = RequestOf(hRequest);
    return request ? request->QueryInfo(dwInfoLevel, lpBuffer, lpdwBufferLength) : FALSE;
}

extern "C" BOOL WINAPI InternetReadFileExA(HINTERNET hFile, LPINTERNET_BUFFERSA lpBuffersOut, DWORD,
                                           DWORD_PTR dwContext) {
    auto request = RequestOf(hFile);
    return request ? request->Read(lpBuffersOut, dwContext) : FALSE;
}

extern "C" BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile,
                                                  LPDWORD lpdwNumberOfBytesAvailable, DWORD,
                                                  DWORD_PTR dwContext) {
    auto request = RequestOf(hFile);
    return request ? request->QueryDataAvailable(lpdwNumberOfBytesAvailable, dwContext) : FALSE;
}

extern "C" BOOL WINAPI InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                            LPDWORD lpdwBufferLength) {
    if (!lpdwBufferLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<InternetObject> object;
    if (hInternet && !(object = LookupInternetHandle(hInternet)))
        return FALSE;
    DWORD value = 0;
    if (IsTimeoutOption(dwOption)) {
        Timeouts timeouts = object ? object->GetTimeouts() : DefaultTimeouts();
        value = TimeoutField(timeouts, dwOption);
    } else if (object && dwOption == INTERNET_OPTION_HANDLE_TYPE) {
        value = object->Type();
    } else if (dwOption == INTERNET_OPTION_SECURITY_FLAGS || dwOption == INTERNET_OPTION_URL ||
               dwOption == INTERNET_OPTION_REQUEST_FLAGS) {
        auto request = std::dynamic_pointer_cast<HttpRequest>(object);
        if (!request) {
            SetLastError(object ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                : ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return FALSE;
        }
        if (dwOption == INTERNET_OPTION_URL)
            return AnswerText(request->Url(), lpBuffer, lpdwBufferLength);
        value = dwOption == INTERNET_OPTION_SECURITY_FLAGS ? request->SecurityFlags()
                                                           : request->Flags();
    } else if (object && dwOption == INTERNET_OPTION_USER_AGENT) {
        return AnswerText(object->Session().Agent(), lpBuffer, lpdwBufferLength);
    } else {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    }
    if (!lpBuffer || *lpdwBufferLength < sizeof(DWORD)) {
        *lpdwBufferLength = sizeof(DWORD);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(lpBuffer, &value, sizeof(value));
    *lpdwBufferLength = sizeof(DWORD);
    return TRUE;
}

extern "C" BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                          DWORD dwBufferLength) {
    auto object = LookupInternetHandle(hInternet);
    if (!object)
        return FALSE;
    if (!IsTimeoutOption(dwOption) && dwOption != INTERNET_OPTION_SECURITY_FLAGS) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    }
    if (!lpBuffer || dwBufferLength < sizeof(DWORD)) {
        SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return FALSE;
    }
    DWORD value;
    memcpy(&value, lpBuffer, sizeof(value));
    if (dwOption == INTERNET_OPTION_SECURITY_FLAGS) {
        auto request = std::dynamic_pointer_cast<HttpRequest>(object);
        if (!request) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return FALSE;
        }
        request->SetSecurityFlags(value);
        return TRUE;
    }
    Timeouts timeouts = object->GetTimeouts();
    TimeoutField(timeouts, dwOption) = value;
    object->SetTimeouts(timeouts);
    return TRUE;
}

extern "C" BOOL WINAPI InternetCloseHandle(HINTERNET hInternet) {
    auto object = LookupInternetHandle(hInternet);
    if (!object)
        return FALSE;
    object->Close();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
