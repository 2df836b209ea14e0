// HttpClient: the system's only HTTP client. It drives the platform's Internet
// API in its asynchronous mode and offers its caller blocking operations:
// each operation starts a call, and when the call answers "pending" the
// client waits on its completion and abort events until the status callback
// reports completion. One client serves one caller and keeps one session,
// one connection and one request at a time, and the last response's headers
// and body until the next request.
#pragma once

#include <atomic>

#include "platform/win32.h"
#include "support/AnsiStr.h"
#include "support/DiagLog.h"

class HttpClient {
public:
    // Result codes besides 0 (success) and the system's error codes.
    static constexpr int kAborted = -1;
    static constexpr int kMissing = -4;

    HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;
    virtual ~HttpClient();

    // 1 when the session is open (or was already), else 0; a null agent
    // means "ZozeRodeVid".
    int OpenSession(const char *agent);
    int Connect(const char *url, INTERNET_PORT defaultPort);
    // Closes the connection and its request; the next OpenRequest answers
    // kMissing until Connect runs again.
    void Disconnect();
    // A null verb means "GET".
    int OpenRequest(const char *verb, DWORD flags);
    // The result of HttpAddRequestHeadersA (non-zero on success); 0 without
    // text or request.
    int AddHeaders(const char *headers, DWORD modifiers);
    int Send(const void *body, DWORD length);
    int SendText(const char *body);
    // The number of body bytes (> 0), or a value of 0 or less on failure.
    int Download(const char *url, INTERNET_PORT defaultPort, DWORD flags);

    // The last response: its body (text, or the bytes a download counted)
    // and its raw headers.
    AnsiStr &Body() { return m_strBody; }
    // Hands the body's text over to `into` without a copy, taking its
    // buffer in exchange; the client's body is then empty.
    void TakeBody(AnsiStr &into);
    const AnsiStr &Headers() const { return m_strHeaders; }

private:
    int WaitPending(DWORD error);
    int SendAndRead(const void *body, DWORD length);
    int ReadHeaders();
    int ReadOnce(INTERNET_BUFFERSA &buffers, DWORD flags, int errorSign);
    int ReadText();
    DWORD AnnouncedLength();
    bool RoomForChunk(DWORD length, DWORD announced);
    void StartBody();
    void SettleBody();
    int ReadBinary();
    int QueryAvailable(DWORD &available);
    bool MakeRoom(DWORD received, DWORD available);
    // Takes a handle field and nulls it under the handle lock; closes the
    // handle after leaving it.
    void CloseField(HINTERNET &field);
    static void WINAPI StatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwStatus,
                                      LPVOID lpvInfo, DWORD dwInfoLength);
    void OnStatus(DWORD dwStatus, LPVOID lpvInfo, DWORD dwInfoLength);

    // Fields, in the order the client keeps them.
    DiagLog m_log;
    HINTERNET m_hSession = nullptr;
    HINTERNET m_hConnect = nullptr;
    HINTERNET m_hRequest = nullptr;
    HANDLE m_hComplete = nullptr;
    HANDLE m_hAbort = nullptr;
    std::atomic<LONG> m_nPhase{3}; // 1 connecting, 2 requesting, 3 ignore every status
    // The error a pending call completed with (its INTERNET_ASYNC_RESULT),
    // for a read, whose completion says a reply was broken off.
    std::atomic<DWORD> m_dwCompletionError{0};
    BOOL m_bSecure = FALSE;
    char *m_pReadBuf = nullptr;
    BOOL m_bEndOfData = FALSE;
    AnsiStr m_strHost;
    AnsiStr m_strPath;
    AnsiStr m_strHeaders;
    AnsiStr m_strBody;
    // Every byte of the body's buffer from here on is zero: what a text
    // read has to clear of an earlier reply, in place of the whole buffer.
    DWORD m_nBodyUsed = 0;
    // Note: a guard for the handle fields. The status
    // callback closes and nulls the request and connection handles on the
    // platform's worker thread (CLOSING_CONNECTION) while the caller may be
    // using them; every use of the two fields holds this lock, so no handle
    // is used after it was closed.
    CRITICAL_SECTION m_handleLock;
};
