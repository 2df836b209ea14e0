// Driving the platform's Internet API in its asynchronous mode from a test:
// a status recorder (the callback's context) and helpers that wait for the
// completions the way a caller does, with a bound so a fault fails the test
// instead of hanging it.
#pragma once

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace inet_test {

class Recorder {
public:
    static void WINAPI Callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD length) {
        auto *self = reinterpret_cast<Recorder *>(context);
        std::lock_guard<std::mutex> guard(self->m_lock);
        self->m_statuses.push_back(status);
        self->m_handles.push_back(handle);
        if (status == INTERNET_STATUS_REQUEST_COMPLETE && length == sizeof(INTERNET_ASYNC_RESULT))
            self->m_completions.push_back(*static_cast<INTERNET_ASYNC_RESULT *>(info));
        if (status == INTERNET_STATUS_HANDLE_CREATED)
            self->m_created.push_back(
                reinterpret_cast<HINTERNET>(static_cast<INTERNET_ASYNC_RESULT *>(info)->dwResult));
        if (status == INTERNET_STATUS_REDIRECT && info)
            self->m_redirects.push_back(static_cast<const char *>(info));
        self->m_changed.notify_all();
    }
    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(this); }

    // Waits (at most 20 s) for the next completion not yet taken.
    bool NextCompletion(INTERNET_ASYNC_RESULT &result) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return m_completions.size() > m_taken; }))
            return false;
        result = m_completions[m_taken++];
        return true;
    }
    size_t Count(DWORD status) {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<size_t>(std::count(m_statuses.begin(), m_statuses.end(), status));
    }
    std::vector<DWORD> Statuses() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_statuses;
    }
    std::vector<HINTERNET> Created() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_created;
    }
    std::vector<std::string> Redirects() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_redirects;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<DWORD> m_statuses;
    std::vector<HINTERNET> m_handles, m_created;
    std::vector<INTERNET_ASYNC_RESULT> m_completions;
    std::vector<std::string> m_redirects;
    size_t m_taken = 0;
};

// A session in asynchronous mode with the recorder's callback.
inline HINTERNET OpenSession(DWORD access = INTERNET_OPEN_TYPE_PRECONFIG,
                             const char *proxy = nullptr, const char *bypass = nullptr) {
    HINTERNET session =
        InternetOpenA("QuillbayTest/1.0", access, proxy, bypass, INTERNET_FLAG_ASYNC);
    if (session)
        InternetSetStatusCallback(session, Recorder::Callback);
    return session;
}

struct Exchange {
    DWORD sendError = 0; // 0 when the send completed without error
    int status = 0;
    std::string headers;
    std::string body;
    DWORD readError = 0; // the error that ended the reading, 0 at the end of the body
    bool hung = false;
};

// Sends and waits for the completion; false when the call did not pend as
// the asynchronous mode has it.
inline void Send(HINTERNET request, Recorder &recorder, const std::string &body, Exchange &x) {
    BOOL sent = HttpSendRequestA(request, nullptr, 0,
                                 body.empty() ? nullptr : const_cast<char *>(body.data()),
                                 static_cast<DWORD>(body.size()));
    if (sent) {
        x.sendError = 0;
        return;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        x.sendError = GetLastError();
        return;
    }
    INTERNET_ASYNC_RESULT result{};
    if (!recorder.NextCompletion(result)) {
        x.hung = true;
        return;
    }
    x.sendError = result.dwResult ? 0 : result.dwError;
}

inline void ReadHeaders(HINTERNET request, Exchange &x) {
    DWORD status = 0, length = sizeof(status);
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                       nullptr))
        x.status = static_cast<int>(status);
    length = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &length, nullptr) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        std::string text(length, '\0');
        if (HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, text.data(), &length, nullptr))
            x.headers = text.substr(0, length);
    }
}

// Reads the body with IRF_ASYNC in chunks of the given size.
inline void ReadBody(HINTERNET request, Recorder &recorder, Exchange &x, DWORD chunk = 4096) {
    std::vector<char> buffer(chunk);
    for (;;) {
        INTERNET_BUFFERSA buffers{};
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpvBuffer = buffer.data();
        buffers.dwBufferLength = chunk;
        if (!InternetReadFileExA(request, &buffers, IRF_ASYNC, recorder.Context())) {
            if (GetLastError() != ERROR_IO_PENDING) {
                x.readError = GetLastError();
                return;
            }
            INTERNET_ASYNC_RESULT result{};
            if (!recorder.NextCompletion(result)) {
                x.hung = true;
                return;
            }
            if (!result.dwResult) {
                x.readError = result.dwError;
                return;
            }
        }
        if (buffers.dwBufferLength == 0)
            return;
        x.body.append(buffer.data(), buffers.dwBufferLength);
    }
}

// One whole exchange on a new request of the connection.
inline Exchange Fetch(HINTERNET connection, Recorder &recorder, const char *verb,
                      const std::string &object, DWORD flags = INTERNET_FLAG_RELOAD,
                      const std::string &body = "", const char *headers = nullptr,
                      HINTERNET *keep = nullptr) {
    Exchange x;
    HINTERNET request = HttpOpenRequestA(connection, verb, object.c_str(), nullptr, nullptr,
                                         nullptr, flags, recorder.Context());
    EXPECT_NE(request, nullptr);
    if (!request)
        return x;
    if (headers)
        HttpAddRequestHeadersA(request, headers, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    Send(request, recorder, body, x);
    if (!x.hung && x.sendError == 0) {
        ReadHeaders(request, x);
        ReadBody(request, recorder, x);
    }
    if (keep)
        *keep = request;
    else
        InternetCloseHandle(request);
    return x;
}

} // namespace inet_test
