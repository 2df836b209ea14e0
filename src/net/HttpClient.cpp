#include "HttpClient.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr DWORD kReadBufferSize = 1024;
constexpr DWORD kTextChunk = 1020;
// INTERNET_FLAG_RELOAD, _SECURE, _KEEP_CONNECTION, _IGNORE_REDIRECT_TO_HTTP,
// _IGNORE_CERT_DATE_INVALID and _IGNORE_CERT_CN_INVALID.
constexpr DWORD kSecureFlags = 0x80C0B000;
// The size of INTERNET_BUFFERSA the system passes.
constexpr DWORD kBuffersSize = 40;
// The longest text a body holds: its length and the result are 32-bit.
constexpr uint64_t kMostText = INT_MAX;

class HandleLock {
public:
    explicit HandleLock(CRITICAL_SECTION &lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~HandleLock() { LeaveCriticalSection(&m_lock); }
    HandleLock(const HandleLock &) = delete;
    HandleLock &operator=(const HandleLock &) = delete;

private:
    CRITICAL_SECTION &m_lock;
};

// The position of the n-th occurrence of c in text, or -1.
int NthChar(const char *text, char c, int n) {
    for (int i = 0; text[i]; ++i) {
        if (text[i] == c && --n == 0)
            return i;
    }
    return -1;
}

} // namespace

HttpClient::HttpClient() {
    InitializeCriticalSection(&m_handleLock);
    m_hComplete = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hAbort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_pReadBuf = new char[kReadBufferSize];
    m_nPhase = 3;
}

HttpClient::~HttpClient() {
    SetEvent(m_hAbort);
    CloseHandle(m_hComplete);
    CloseHandle(m_hAbort);
    CloseField(m_hRequest);
    CloseField(m_hConnect);
    CloseField(m_hSession);
    delete[] m_pReadBuf;
    m_pReadBuf = nullptr;
    DeleteCriticalSection(&m_handleLock);
}

void HttpClient::CloseField(HINTERNET &field) {
    HINTERNET handle;
    {
        HandleLock guard(m_handleLock);
        handle = field;
        field = nullptr;
    }
    if (handle)
        InternetCloseHandle(handle);
}

// ---- The status callback ----------------------------------------------------------

void WINAPI HttpClient::StatusCallback(HINTERNET, DWORD_PTR dwContext, DWORD dwStatus,
                                       LPVOID lpvInfo, DWORD dwInfoLength) {
    reinterpret_cast<HttpClient *>(dwContext)->OnStatus(dwStatus, lpvInfo, dwInfoLength);
}

void HttpClient::OnStatus(DWORD dwStatus, LPVOID lpvInfo, DWORD dwInfoLength) {
    const LONG phase = m_nPhase;
    if (phase == 1) {
        if (dwStatus == INTERNET_STATUS_HANDLE_CREATED) {
            auto *result = static_cast<INTERNET_ASYNC_RESULT *>(lpvInfo);
            {
                HandleLock guard(m_handleLock);
                m_hConnect = reinterpret_cast<HINTERNET>(result->dwResult);
            }
            SetEvent(m_hComplete);
        }
    } else if (phase == 2) {
        switch (dwStatus) {
        case INTERNET_STATUS_HANDLE_CREATED: {
            auto *result = static_cast<INTERNET_ASYNC_RESULT *>(lpvInfo);
            {
                HandleLock guard(m_handleLock);
                m_hRequest = reinterpret_cast<HINTERNET>(result->dwResult);
            }
            SetEvent(m_hComplete);
            break;
        }
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const auto *result = static_cast<const INTERNET_ASYNC_RESULT *>(lpvInfo);
            m_dwCompletionError = result ? result->dwError : 0;
            SetEvent(m_hComplete);
            break;
        }
        case INTERNET_STATUS_CLOSING_CONNECTION:
            m_log.Printf("--------------------: CLOSING_CONNECTION (%d)", dwInfoLength);
            CloseField(m_hRequest);
            CloseField(m_hConnect);
            break;
        default:
            break;
        }
    }
}

// ---- Waiting ------------------------------------------------------------------------

int HttpClient::WaitPending(DWORD error) {
    if (error != ERROR_IO_PENDING)
        return static_cast<int>(error);
    HANDLE events[2] = {m_hComplete, m_hAbort};
    switch (WaitForMultipleObjects(2, events, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
        ResetEvent(m_hComplete);
        return 0;
    case WAIT_OBJECT_0 + 1:
        ResetEvent(m_hAbort);
        return kAborted;
    default:
        return -static_cast<int>(GetLastError());
    }
}

// ---- Session, connection, request -----------------------------------------------------

int HttpClient::OpenSession(const char *agent) {
    HINTERNET session;
    {
        HandleLock guard(m_handleLock);
        if (m_hSession)
            return 1;
    }
    session = InternetOpenA(agent ? agent : "ZozeRodeVid", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                            nullptr, INTERNET_FLAG_ASYNC);
    if (!session)
        return 0;
    {
        HandleLock guard(m_handleLock);
        m_hSession = session;
    }
    if (InternetSetStatusCallback(session, StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
        return 0;
    return 1;
}

int HttpClient::Connect(const char *url, INTERNET_PORT defaultPort) {
    if (!url || !*url)
        return kMissing;
    m_strHost.Assign(url);
    const int third = NthChar(url, '/', 3);
    m_strPath.Assign(third >= 0 ? url + third : url);
    // The scheme is the address's start only: "https://" further on (in a
    // query, say) names no host and asks for no TLS.
    m_bSecure = strncmp(url, "https://", 8) == 0;
    const char *marker = m_bSecure ? "https://" : "http://";
    AnsiStr host;
    if (strncmp(url, marker, strlen(marker)) == 0) {
        const int start = static_cast<int>(strlen(marker));
        const int slash = m_strHost.Find("/", start, 1);
        m_strHost.Mid(host, start, slash >= 0 ? slash - start : 0);
    }
    m_strHost.Assign(host);
    INTERNET_PORT port = defaultPort;
    const int colon = m_strHost.Find(":", 0, 1);
    if (colon > 0) {
        port = static_cast<INTERNET_PORT>(atoi(m_strHost.c_str() + colon + 1));
        AnsiStr name;
        m_strHost.Mid(name, 0, colon);
        m_strHost.Assign(name);
    } else if (m_bSecure) {
        // Note: the callers pass 80 for every scheme; TLS to port 80 can
        // never work, so an https:// address without a port goes to 443.
        port = INTERNET_DEFAULT_HTTPS_PORT;
    }
    if (m_strHost.IsEmpty())
        return kMissing;
    Disconnect();
    m_nPhase = 1;
    ResetEvent(m_hComplete);
    ResetEvent(m_hAbort);
    HINTERNET connection;
    DWORD error;
    {
        HandleLock guard(m_handleLock);
        connection = InternetConnectA(m_hSession, m_strHost.c_str(), port, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this));
        error = GetLastError();
    }
    if (!connection)
        return WaitPending(error);
    ResetEvent(m_hComplete);
    return 0;
}

void HttpClient::Disconnect() {
    // Closing the connection closes its request with it.
    CloseField(m_hRequest);
    CloseField(m_hConnect);
}

int HttpClient::OpenRequest(const char *verb, DWORD flags) {
    {
        HandleLock guard(m_handleLock);
        if (!m_hConnect)
            return kMissing;
    }
    CloseField(m_hRequest);
    m_nPhase = 2;
    ResetEvent(m_hComplete);
    ResetEvent(m_hAbort);
    if (m_bSecure)
        flags |= kSecureFlags;
    DWORD error = ERROR_SUCCESS;
    {
        HandleLock guard(m_handleLock);
        if (!m_hConnect)
            return kMissing;
        HINTERNET request =
            HttpOpenRequestA(m_hConnect, verb ? verb : "GET", m_strPath.c_str(), nullptr, nullptr,
                             nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
        if (!request) {
            error = GetLastError();
        } else if (m_bSecure) {
            DWORD security = 0, length = sizeof(security);
            InternetQueryOptionA(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &security, &length);
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            InternetSetOptionA(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &security,
                               sizeof(security));
        }
    }
    if (error != ERROR_SUCCESS)
        return WaitPending(error);
    ResetEvent(m_hComplete);
    return 0;
}

int HttpClient::AddHeaders(const char *headers, DWORD modifiers) {
    HandleLock guard(m_handleLock);
    if (!headers || !m_hRequest)
        return 0;
    return HttpAddRequestHeadersA(m_hRequest, headers, static_cast<DWORD>(lstrlenA(headers)),
                                  modifiers);
}

// ---- Sending ------------------------------------------------------------------------

int HttpClient::Send(const void *body, DWORD length) {
    {
        HandleLock guard(m_handleLock);
        if (!m_hRequest || (!body && length))
            return kMissing;
    }
    m_bEndOfData = FALSE;
    StartBody();
    const int result = SendAndRead(body, length);
    SettleBody();
    return result;
}

int HttpClient::SendAndRead(const void *body, DWORD length) {
    BOOL sent;
    DWORD error;
    {
        HandleLock guard(m_handleLock);
        sent = HttpSendRequestA(m_hRequest, nullptr, 0, const_cast<void *>(body), length);
        error = GetLastError();
    }
    if (!sent && error != ERROR_IO_PENDING) {
        if (error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) {
            HINTERNET request;
            {
                HandleLock guard(m_handleLock);
                request = m_hRequest;
            }
            InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED,
                             FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                 FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                 FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                             nullptr);
            // Note: whatever the dialog answers, the send that asked for a
            // certificate has failed and no completion will come for it; the
            // client does not wait for one. A certificate chosen in the
            // dialog serves the next send.
        }
        CloseField(m_hRequest);
        return static_cast<int>(error);
    }
    const int waited = WaitPending(ERROR_IO_PENDING);
    if (waited != 0)
        return waited;
    ReadHeaders();
    return ReadText();
}

int HttpClient::SendText(const char *body) {
    return Send(body, body ? static_cast<DWORD>(lstrlenA(body)) : 0);
}

// ---- Reading --------------------------------------------------------------------------

int HttpClient::ReadHeaders() {
    m_log.Printf("------------------- Read the header -------------------");
    m_strHeaders.Clear();
    void *buffer = nullptr;
    DWORD length = 0;
    for (;;) {
        BOOL ok;
        DWORD error;
        {
            HandleLock guard(m_handleLock);
            ok = HttpQueryInfoA(m_hRequest, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr);
            error = GetLastError();
        }
        if (ok)
            break;
        if (error == ERROR_HTTP_HEADER_NOT_FOUND)
            return 0;
        if (error != ERROR_INSUFFICIENT_BUFFER)
            return static_cast<int>(error);
        m_strHeaders.Reserve(length + 4, true);
        buffer = m_strHeaders.Data();
        length = m_strHeaders.Capacity();
    }
    m_strHeaders.Recount();
    m_log.Write(m_strHeaders.c_str());
    m_log.Printf("------------------- Read the header end-------------------");
    return 0;
}

// One read into buffers, waited for when it pends: 0 when it completed,
// else the platform's error times errorSign (the text read answers errors
// as they are, the binary one negated), or what the wait answered.
int HttpClient::ReadOnce(INTERNET_BUFFERSA &buffers, DWORD flags, int errorSign) {
    m_nPhase = 2;
    m_dwCompletionError = 0;
    BOOL ok;
    DWORD error;
    {
        HandleLock guard(m_handleLock);
        ok = InternetReadFileExA(m_hRequest, &buffers, flags, reinterpret_cast<DWORD_PTR>(this));
        error = GetLastError();
    }
    if (ok) {
        ResetEvent(m_hComplete);
        return 0;
    }
    if (error != ERROR_IO_PENDING)
        return errorSign * static_cast<int>(error);
    // A read that pends may complete with the reply broken off: that is
    // the read's error, as if it had failed at once.
    const int waited = WaitPending(error);
    if (waited == 0 && m_dwCompletionError != 0)
        return errorSign * static_cast<int>(m_dwCompletionError.exchange(0));
    return waited;
}

// Clears the body for a text reply without writing zeros over the whole
// buffer: its text ends at once, and what an earlier reply left past the
// new one's end is zeroed when the new one is read (SettleBody).
void HttpClient::StartBody() {
    m_nBodyUsed = std::max(m_nBodyUsed, m_strBody.Length() + 1);
    if (m_strBody.Data())
        m_strBody.Data()[0] = 0;
    m_strBody.Recount();
}

void HttpClient::TakeBody(AnsiStr &into) {
    into.Swap(m_strBody);
    if (m_strBody.Data())
        m_strBody.Data()[0] = 0;
    m_strBody.Recount();
    // Nothing is known of what the buffer taken in exchange holds past its
    // start: the next reply's SettleBody zeroes all of it behind its text.
    m_nBodyUsed = m_strBody.Capacity();
}

// Zeroes what an earlier reply left past the text's terminator: the buffer
// then holds the text and zeros, as a cleared buffer read into would.
void HttpClient::SettleBody() {
    char *data = m_strBody.Data();
    const DWORD end = m_strBody.Length() + 1;
    const DWORD used = std::min(m_nBodyUsed, m_strBody.Capacity());
    if (data && used > end)
        memset(data + end, 0, used - end);
    m_nBodyUsed = data ? end : 0;
}

// The reply's length as its headers announce it, or 0 when they do not
// (or announce more than a text can hold).
DWORD HttpClient::AnnouncedLength() {
    DWORD announced = 0, size = sizeof(announced);
    BOOL ok;
    {
        HandleLock guard(m_handleLock);
        ok = HttpQueryInfoA(m_hRequest, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                            &announced, &size, nullptr);
    }
    return ok && announced < kMostText ? announced : 0;
}

// Room in the body for one more chunk and its terminator after the text.
// A reply whose length is announced gets its whole buffer at once; one
// without grows by doubling. False when memory is out or the text would
// pass what a length can count.
bool HttpClient::RoomForChunk(DWORD length, DWORD announced) {
    const uint64_t needed = static_cast<uint64_t>(length) + kTextChunk + 1;
    const DWORD capacity = m_strBody.Capacity();
    if (capacity >= needed)
        return true;
    if (needed > kMostText)
        return false;
    uint64_t size = announced >= length ? static_cast<uint64_t>(announced) + kTextChunk + 1
                                        : static_cast<uint64_t>(capacity) * 2;
    size = std::min<uint64_t>(std::max(size, needed), kMostText);
    // Before the first byte nothing is kept: a fresh buffer, nothing copied
    // and nothing left of an earlier reply in it.
    const bool fresh = length == 0;
    m_strBody.Reserve(static_cast<DWORD>(size), fresh);
    if (fresh)
        m_nBodyUsed = 0;
    return m_strBody.Capacity() >= needed;
}

int HttpClient::ReadText() {
    m_log.Printf("------------------- Read the response -------------------");
    ResetEvent(m_hComplete);
    ResetEvent(m_hAbort);
    // The reply is read in chunks of at most 1020 bytes straight into the
    // body's buffer, sized once when the reply's length is known: no copy
    // through the read buffer, no growth. It is text up to its first NUL;
    // once a chunk has held one, the rest is still read (the request ends
    // only with its last byte) into the read buffer and dropped, so no
    // later part is glued to the text before it. So it is when memory for
    // the text runs out.
    const DWORD announced = AnnouncedLength();
    bool cut = false;
    do {
        const DWORD length = m_strBody.Length();
        cut = cut || !RoomForChunk(length, announced);
        char *target = cut ? m_pReadBuf : m_strBody.Data() + length;
        INTERNET_BUFFERSA buffers;
        memset(&buffers, 0, sizeof(buffers));
        buffers.dwStructSize = kBuffersSize;
        buffers.lpvBuffer = target;
        buffers.dwBufferLength = kTextChunk;
        const int read = ReadOnce(buffers, IRF_ASYNC, 1);
        if (read != 0)
            return read;
        const DWORD got = buffers.dwBufferLength;
        if (!cut) {
            m_nBodyUsed = std::max(m_nBodyUsed, length + got + 1);
            // A NUL inside the chunk ends the text.
            const auto *nul = static_cast<const char *>(memchr(target, 0, got));
            m_strBody.Extend(nul ? static_cast<DWORD>(nul - target) : got);
            cut = nul != nullptr;
        }
        if (got == 0)
            m_bEndOfData = TRUE;
    } while (!m_bEndOfData);
    m_log.Printf("------------------- Read the response end-------------------");
    return 0;
}

// The number of bytes the request can give at once, waiting when none are
// there yet; 0 or minus an error code.
int HttpClient::QueryAvailable(DWORD &available) {
    for (;;) {
        BOOL ok;
        DWORD error;
        {
            HandleLock guard(m_handleLock);
            ok = InternetQueryDataAvailable(m_hRequest, &available, 0, 0);
            error = GetLastError();
        }
        if (ok)
            return 0;
        if (error != ERROR_IO_PENDING)
            return -static_cast<int>(error);
        const int waited = WaitPending(error);
        if (waited != 0)
            return waited;
    }
}

// Grows the body's buffer to hold `available` more bytes after `received`
// (and the four spare bytes); false when it cannot: memory is out, or the
// count would pass what the result can carry. A buffer that is large
// enough already is left as it is: its bytes past what was read are still
// the zeros of the clearing.
bool HttpClient::MakeRoom(DWORD received, DWORD available) {
    const uint64_t needed = static_cast<uint64_t>(received) + available + 4;
    if (needed > static_cast<uint64_t>(INT_MAX))
        return false;
    if (m_strBody.Capacity() < needed)
        m_strBody.Reserve(static_cast<DWORD>(needed), false);
    return m_strBody.Capacity() >= needed;
}

int HttpClient::ReadBinary() {
    m_log.Printf("------------------- Read the bin response -------------------");
    ResetEvent(m_hComplete);
    ResetEvent(m_hAbort);
    // The download cleared the body before it sent the request and nothing
    // has written to it since: it is all zeros already, and clearing it again
    // would only write them again.
    if (m_strBody.Capacity() < kReadBufferSize)
        m_strBody.Reserve(kReadBufferSize, false);
    DWORD received = 0;
    do {
        DWORD available = 0;
        const int asked = QueryAvailable(available);
        if (asked != 0)
            return asked;
        // Straight into the body's buffer: no intermediate copy.
        if (!MakeRoom(received, available))
            return -static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
        INTERNET_BUFFERSA buffers;
        memset(&buffers, 0, sizeof(buffers));
        buffers.dwStructSize = kBuffersSize;
        buffers.lpvBuffer = m_strBody.Data() + received;
        buffers.dwBufferLength = available;
        const int read = ReadOnce(buffers, 0, -1);
        if (read != 0)
            return read;
        received += buffers.dwBufferLength;
        if (buffers.dwBufferLength == 0)
            m_bEndOfData = TRUE;
    } while (!m_bEndOfData);
    m_log.Printf("------------------- Read the bin response end-------------------");
    return received > 0 ? static_cast<int>(received) : kMissing;
}

// ---- Download -------------------------------------------------------------------------

int HttpClient::Download(const char *url, INTERNET_PORT defaultPort, DWORD flags) {
    bool connected;
    {
        HandleLock guard(m_handleLock);
        connected = m_hConnect != nullptr;
    }
    if (!connected)
        OpenSession("ZozeRODE_Vid");
    int result = Connect(url, defaultPort);
    if (result == 0)
        result = OpenRequest(nullptr, flags);
    if (result != 0)
        return result > 0 ? -result : result;
    m_bEndOfData = FALSE;
    m_strBody.Clear();
    BOOL sent;
    DWORD error;
    {
        HandleLock guard(m_handleLock);
        sent = HttpSendRequestA(m_hRequest, nullptr, 0, nullptr, 0);
        error = GetLastError();
    }
    if (!sent && error != ERROR_IO_PENDING) {
        CloseField(m_hRequest);
        return -static_cast<int>(error);
    }
    result = WaitPending(ERROR_IO_PENDING);
    if (result != 0)
        return result;
    ReadHeaders();
    result = ReadBinary();
    // The binary reader wrote past the text's length.
    m_nBodyUsed = m_strBody.Capacity();
    return result;
}
