#include "HttpRequest.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Transport.h"

namespace platform::inet {
namespace {

// The worker pauses a transfer when this much body waits for the reader, and
// lets it go on once the reader has brought it under the low mark.
constexpr size_t kHighWater = 8u << 20;
constexpr size_t kLowWater = 2u << 20;
// Redirects followed for one request before it fails.
constexpr int kMaxRedirects = 30;

constexpr DWORD kSettableSecurityFlags =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
    SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS |
    SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;

// Whether a header line ("Name: value") has the name, in any case.
bool SameName(std::string_view line, std::string_view name) {
    const size_t n = name.size();
    return line.size() > n && line[n] == ':' && strncasecmp(line.data(), name.data(), n) == 0;
}

// The status code of a status line ("HTTP/1.1 200 OK"), 0 when it has none.
int StatusOf(std::string_view line) {
    size_t at = line.find(' ');
    at = at == std::string_view::npos ? line.size() : line.find_first_not_of(' ', at);
    int status = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && status < 1000; ++at)
        status = status * 10 + (line[at] - '0');
    return status;
}

// The request target as it goes on the wire: the object name as the
// application gave it, with spaces and control bytes escaped.
std::string EscapeTarget(const std::string &object) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string target;
    for (unsigned char c : object) {
        if (c <= 0x20 || c == 0x7F) {
            target += '%';
            target += kHex[c >> 4];
            target += kHex[c & 15];
        } else {
            target += static_cast<char>(c);
        }
    }
    return target.empty() ? "/" : target;
}

std::string HeaderValue(const std::string &raw, const char *name) {
    size_t start = raw.find("\r\n");
    while (start != std::string::npos && start + 2 < raw.size()) {
        size_t end = raw.find("\r\n", start + 2);
        std::string line = raw.substr(start + 2, end - start - 2);
        if (SameName(line, name)) {
            size_t value = line.find_first_not_of(" \t", strlen(name) + 1);
            return value == std::string::npos ? "" : line.substr(value);
        }
        start = end;
    }
    return "";
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string Origin(bool secure, const std::string &host, int port) {
    std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string(secure ? "https://" : "http://") + name + ":" + std::to_string(port);
}

} // namespace

HttpRequest::HttpRequest(const std::shared_ptr<InternetConnection> &connection, const char *verb,
                         const char *object, const char *referrer, const char *const *acceptTypes,
                         DWORD flags, DWORD_PTR context)
    : InternetObject(INTERNET_HANDLE_TYPE_HTTP_REQUEST, connection, context),
      m_connection(connection), m_verb(verb && *verb ? verb : "GET"),
      m_object(object ? object : ""), m_referrer(referrer ? referrer : ""),
      m_flags(flags | connection->Flags()), m_body(connection->SessionPtr()->Blocks()) {
    for (; acceptTypes && *acceptTypes; ++acceptTypes)
        m_accept += (m_accept.empty() ? "" : ", ") + std::string(*acceptTypes);
    m_securityFlags =
        (m_flags &
         (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
          INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS)) |
        ((m_flags & INTERNET_FLAG_SECURE) ? SECURITY_FLAG_SECURE : 0);
}

std::string HttpRequest::ServerKey() const {
    const bool secure = (m_flags & INTERNET_FLAG_SECURE) != 0;
    int port = m_connection->Port();
    if (port == INTERNET_INVALID_PORT_NUMBER)
        port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    return m_connection->Host() + ":" + std::to_string(port);
}

std::string HttpRequest::Url() const {
    const bool secure = (m_flags & INTERNET_FLAG_SECURE) != 0;
    std::string key = ServerKey();
    std::string origin =
        Origin(secure, m_connection->Host(), atoi(key.c_str() + key.rfind(':') + 1));
    return origin + (m_object.empty() || m_object[0] != '/' ? "/" : "") + m_object;
}

DWORD HttpRequest::SecurityFlags() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_securityFlags;
}

void HttpRequest::SetSecurityFlags(DWORD flags) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_securityFlags =
        (m_securityFlags & ~kSettableSecurityFlags) | (flags & kSettableSecurityFlags);
}

// ---- Request headers ----------------------------------------------------------

BOOL HttpRequest::AddHeaders(const char *text, DWORD length, DWORD modifiers) {
    const std::string_view all =
        length == static_cast<DWORD>(-1) ? std::string_view(text) : std::string_view(text, length);
    std::lock_guard<std::mutex> guard(m_lock);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = all.size();
        const std::string_view line = all.substr(start, end - start);
        start = all.find_first_not_of("\r\n", end);
        if (start == std::string_view::npos)
            start = all.size();
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            SetLastError(ERROR_INTERNET_INVALID_OPERATION);
            return FALSE;
        }
        const std::string_view name = line.substr(0, colon);
        const size_t value = line.find_first_not_of(" \t", colon + 1);
        auto existing = std::find_if(m_headers.begin(), m_headers.end(),
                                     [&](const std::string &h) { return SameName(h, name); });
        if (existing != m_headers.end()) {
            if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
                SetLastError(ERROR_HTTP_HEADER_ALREADY_EXISTS);
                return FALSE;
            }
            if (modifiers &
                (HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA | HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON)) {
                *existing += (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) ? "; " : ", ";
                if (value != std::string_view::npos)
                    *existing += line.substr(value);
                continue;
            }
            if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
                m_headers.erase(existing);
                // A name with nothing after the colon only removes the header.
                if (value == std::string_view::npos)
                    continue;
            }
        } else if ((modifiers & HTTP_ADDREQ_FLAG_REPLACE) && !(modifiers & HTTP_ADDREQ_FLAG_ADD)) {
            continue; // replacing a header that is not there adds nothing
        }
        m_headers.emplace_back(line);
    }
    return TRUE;
}

// ---- Sending ------------------------------------------------------------------

void HttpRequest::BuildExchange(const char *extra, DWORD extraLength, const void *body,
                                DWORD length) {
    Exchange &x = m_exchange;
    x = Exchange();
    x.secure = (m_flags & INTERNET_FLAG_SECURE) != 0;
    x.host = m_connection->Host();
    int port = m_connection->Port();
    if (port == INTERNET_INVALID_PORT_NUMBER)
        port = x.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    x.origin = Origin(x.secure, x.host, port);
    x.proxy = Session().Proxies().ProxyFor(x.secure, x.host);
    x.target = EscapeTarget(m_object);
    // Through a proxy a plain request names its whole address.
    if (!x.proxy.empty() && !x.secure && x.target[0] == '/')
        x.target = x.origin + x.target;
    x.method = m_verb;
    x.headers.reserve(m_headers.size() + 4);
    x.headers = m_headers;
    if (extra && extraLength) {
        std::string text = extraLength == static_cast<DWORD>(-1) ? std::string(extra)
                                                                 : std::string(extra, extraLength);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            if (end > start)
                x.headers.push_back(text.substr(start, end - start));
            start = end + 2;
        }
    }
    if (!m_referrer.empty())
        x.headers.push_back("Referer: " + m_referrer);
    // The platform sends Accept only when the application names types, and
    // never asks the server to wait before the body.
    x.headers.push_back(m_accept.empty() ? "Accept:" : "Accept: " + m_accept);
    x.headers.push_back("Expect:");
    x.hasBody = length > 0 || (m_verb != "GET" && m_verb != "HEAD");
    if (body && length)
        x.body.assign(static_cast<const char *>(body), length);
    x.agent = Session().Agent();
    x.timeouts = GetTimeouts();
    x.securityFlags = m_securityFlags;
    AddCookies(x);
}

BOOL HttpRequest::Send(const char *headers, DWORD headersLength, const void *body,
                       DWORD bodyLength) {
    if (Session().WantsClientCertificate(ServerKey())) {
        SetLastError(ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
        return FALSE;
    }
    std::shared_ptr<Transport> transport = Session().GetTransport();
    if (!transport) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return FALSE;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_pending != Pending::None || (m_started && !m_finished)) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    BuildExchange(headers, headersLength, body, bodyLength);
    m_started = true;
    m_redirects = 0;
    m_incoming.clear();
    m_rawHeaders.clear();
    m_status = m_incomingStatus = 0;
    m_haveHeaders = m_redirecting = m_finished = false;
    m_body.Clear();
    m_readFilled = false;
    m_error = 0;
    m_connectionClosed = m_closeAnnounced = m_paused = false;
    const bool async = Session().IsAsync();
    if (async) {
        m_pending = Pending::Send;
        m_pendingContext = 0;
    }
    lock.unlock();
    transport->Start(std::static_pointer_cast<HttpRequest>(shared_from_this()));
    if (async) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    lock.lock();
    WaitFor(lock, Pending::Send);
    if (!m_haveHeaders) {
        SetLastError(m_error ? m_error : ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return FALSE;
    }
    return TRUE;
}

// ---- Reading ------------------------------------------------------------------

bool HttpRequest::Ready(Pending what) const {
    if (what == Pending::Send)
        return m_haveHeaders || m_finished;
    return m_body.Size() > 0 || m_finished;
}

void HttpRequest::WaitFor(std::unique_lock<std::mutex> &lock, Pending what) {
    m_syncDone.wait(lock, [&] { return Ready(what) || IsClosed(); });
}

bool HttpRequest::TakeBody(INTERNET_BUFFERSA &buffers) {
    buffers.dwBufferLength = static_cast<DWORD>(
        m_body.Take(static_cast<char *>(buffers.lpvBuffer), buffers.dwBufferLength));
    const bool resume = m_paused && m_body.Size() < kLowWater;
    if (resume)
        m_paused = false;
    return resume;
}

void HttpRequest::EndNotes(std::vector<Note> &notes) {
    if (m_connectionClosed && !m_closeAnnounced) {
        m_closeAnnounced = true;
        notes.push_back({INTERNET_STATUS_CLOSING_CONNECTION, {}, {}});
        notes.push_back({INTERNET_STATUS_CONNECTION_CLOSED, {}, {}});
    }
}

void HttpRequest::Report(const std::vector<Note> &notes, DWORD_PTR context) {
    for (const Note &note : notes) {
        if (note.status == INTERNET_STATUS_REQUEST_COMPLETE) {
            INTERNET_ASYNC_RESULT result = note.result;
            Notify(note.status, &result, sizeof(result), context);
        } else if (!note.text.empty()) {
            std::string text = note.text;
            Notify(note.status, text.data(), static_cast<DWORD>(text.size() + 1), context);
        } else {
            Notify(note.status, nullptr, 0, context);
        }
    }
}

void HttpRequest::Resume() {
    if (auto transport = Session().RunningTransport())
        transport->Resume(this);
}

BOOL HttpRequest::Read(INTERNET_BUFFERSA *buffers, DWORD_PTR context) {
    if (!buffers ||
        (buffers->dwStructSize != sizeof(INTERNET_BUFFERSA) &&
         buffers->dwStructSize != INTERNET_BUFFERSA_SIZE_32) ||
        (!buffers->lpvBuffer && buffers->dwBufferLength)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<Note> notes;
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_started || m_pending != Pending::None) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (!Session().IsAsync())
        WaitFor(lock, Pending::Read);
    if (m_body.Size() > 0 && buffers->dwBufferLength > 0) {
        const bool resume = TakeBody(*buffers);
        lock.unlock();
        if (resume)
            Resume();
        return TRUE;
    }
    if (m_finished && m_body.Size() == 0) {
        buffers->dwBufferLength = 0;
        EndNotes(notes);
        const DWORD error = m_error;
        lock.unlock();
        Report(notes, context);
        if (error) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    }
    if (buffers->dwBufferLength == 0)
        return TRUE;
    m_pending = Pending::Read;
    m_readBuffers = buffers;
    m_pendingContext = context;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL HttpRequest::QueryDataAvailable(LPDWORD available, DWORD_PTR context) {
    if (!available) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_started || m_pending != Pending::None) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (!Session().IsAsync())
        WaitFor(lock, Pending::Query);
    if (m_body.Size() > 0) {
        *available = static_cast<DWORD>(std::min<size_t>(m_body.Size(), 0x7FFFFFFF));
        return TRUE;
    }
    if (m_finished) {
        if (m_error) {
            SetLastError(m_error);
            return FALSE;
        }
        *available = 0;
        return TRUE;
    }
    m_pending = Pending::Query;
    m_pendingContext = context;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL HttpRequest::QueryInfo(DWORD level, LPVOID buffer, LPDWORD length) {
    if (!length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string value;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_haveHeaders) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
            return FALSE;
        }
        const std::string_view raw = m_rawHeaders;
        const std::string_view statusLine = raw.substr(0, raw.find("\r\n"));
        switch (level & ~HTTP_QUERY_MODIFIER_FLAGS_MASK) {
        case HTTP_QUERY_RAW_HEADERS_CRLF:
            value = m_rawHeaders;
            break;
        case HTTP_QUERY_RAW_HEADERS:
            value = m_rawHeaders;
            for (size_t at; (at = value.find("\r\n")) != std::string::npos;)
                value.replace(at, 2, 1, '\0');
            break;
        case HTTP_QUERY_STATUS_CODE:
            value = std::to_string(m_status);
            break;
        case HTTP_QUERY_STATUS_TEXT: {
            size_t first = statusLine.find(' ');
            size_t second = first == std::string::npos ? first : statusLine.find(' ', first + 1);
            value = second == std::string::npos ? "" : statusLine.substr(second + 1);
            break;
        }
        case HTTP_QUERY_VERSION:
            value = statusLine.substr(0, statusLine.find(' '));
            break;
        case HTTP_QUERY_CONTENT_TYPE:
            value = HeaderValue(m_rawHeaders, "Content-Type");
            break;
        case HTTP_QUERY_CONTENT_LENGTH:
            value = HeaderValue(m_rawHeaders, "Content-Length");
            break;
        case HTTP_QUERY_LOCATION:
            value = HeaderValue(m_rawHeaders, "Location");
            break;
        default:
            SetLastError(ERROR_HTTP_INVALID_QUERY_REQUEST);
            return FALSE;
        }
    }
    if (level & HTTP_QUERY_FLAG_NUMBER) {
        if (value.empty()) {
            SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
            return FALSE;
        }
        if (!buffer || *length < sizeof(DWORD)) {
            *length = sizeof(DWORD);
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        DWORD number = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        memcpy(buffer, &number, sizeof(number));
        *length = sizeof(DWORD);
        return TRUE;
    }
    if (value.empty()) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (!buffer || *length < value.size() + 1) {
        *length = static_cast<DWORD>(value.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, value.c_str(), value.size() + 1);
    *length = static_cast<DWORD>(value.size());
    return TRUE;
}

// ---- Closing --------------------------------------------------------------------

void HttpRequest::Close() {
    if (IsClosed())
        return;
    InternetObject::Close();
    // A delivery in progress on the worker finishes before the handle is
    // let go (unless this is that delivery's own callback).
    if (!InsideCallback()) {
        std::lock_guard<std::mutex> wait(Session().DeliveryLock());
    }
    bool running;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pending = Pending::None;
        m_readBuffers = nullptr;
        m_readFilled = false;
        running = m_started && !m_finished;
    }
    m_syncDone.notify_all();
    // A finished transfer has left the worker already.
    if (running) {
        if (auto transport = Session().RunningTransport())
            transport->Cancel(this);
    }
}

// ---- The worker's side ----------------------------------------------------------

void HttpRequest::OnHeaderLine(const char *data, size_t length) {
    while (length > 0 && (data[length - 1] == '\n' || data[length - 1] == '\r'))
        --length;
    const std::string_view line(data, length);
    std::lock_guard<std::mutex> guard(m_lock);
    if (line.starts_with("HTTP/")) {
        m_incoming.clear();
        m_incoming.reserve(1024);
        m_incomingStatus = StatusOf(line);
        m_locationSeen = m_locationGiven = false;
    } else if (!m_locationSeen && SameName(line, "Location")) {
        // The first Location header decides, as a lookup by name would.
        m_locationSeen = true;
        m_locationGiven = line.find_first_not_of(" \t", 9) != std::string_view::npos;
    }
    m_incoming.append(line);
    m_incoming.append("\r\n", 2);
    if (!line.empty())
        return;
    // The end of one response's headers.
    if (m_incomingStatus >= 100 && m_incomingStatus < 200) {
        m_incoming.clear(); // an interim response
        return;
    }
    KeepCookies(); // a redirect's cookies too
    if (!(m_flags & INTERNET_FLAG_NO_AUTO_REDIRECT) && IsRedirectStatus(m_incomingStatus) &&
        m_locationGiven) {
        m_redirecting = true;
        return;
    }
    m_redirecting = false;
    m_rawHeaders.swap(m_incoming);
    m_incoming.clear();
    m_status = m_incomingStatus;
    m_haveHeaders = true;
}

HttpRequest::Taken HttpRequest::OnBody(const char *data, size_t length) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_redirecting)
        return Taken::All;
    // A reader that waits for bytes gets them straight into its buffer.
    if (m_pending == Pending::Read && !m_readFilled && m_body.Size() == 0) {
        const size_t n = std::min<size_t>(length, m_readBuffers->dwBufferLength);
        memcpy(m_readBuffers->lpvBuffer, data, n);
        m_readBuffers->dwBufferLength = static_cast<DWORD>(n);
        m_readFilled = true;
        data += n;
        length -= n;
    }
    if (length == 0)
        return Taken::All;
    if (m_body.Size() >= kHighWater) {
        m_paused = true; // curl hands the same bytes again on resumption
        return Taken::Full;
    }
    return m_body.Append(data, length) ? Taken::All : Taken::Failed;
}

bool HttpRequest::IsRedirecting() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_redirecting;
}

bool HttpRequest::FollowRedirect(const std::string &location, DWORD &error) {
    std::lock_guard<std::mutex> guard(m_lock);
    UrlParts url;
    if (++m_redirects > kMaxRedirects || !SplitUrl(location, url) ||
        (url.scheme != "http" && url.scheme != "https")) {
        error = ERROR_HTTP_REDIRECT_FAILED;
        return false;
    }
    Exchange &x = m_exchange;
    const bool toSecure = url.scheme == "https";
    if (x.secure && !toSecure && !(x.securityFlags & SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP)) {
        error = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
        return false;
    }
    if (!x.secure && toSecure && !(x.securityFlags & SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS)) {
        error = ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR;
        return false;
    }
    // 301 and 302 turn a POST into a GET, 303 turns everything but HEAD into
    // one; 307 and 308 repeat the request as it was.
    if (((m_incomingStatus == 301 || m_incomingStatus == 302) && x.method == "POST") ||
        (m_incomingStatus == 303 && x.method != "HEAD")) {
        x.method = "GET";
        x.hasBody = false;
        x.body.clear();
    }
    x.secure = toSecure;
    x.host = url.host;
    x.origin = Origin(toSecure, url.host, url.port ? url.port : (toSecure ? 443 : 80));
    x.proxy = Session().Proxies().ProxyFor(toSecure, url.host);
    x.target = EscapeTarget(url.path);
    if (!x.proxy.empty() && !x.secure && x.target[0] == '/')
        x.target = x.origin + x.target;
    AddCookies(x);
    m_incoming.clear();
    m_redirecting = false;
    Note note{INTERNET_STATUS_REDIRECT, {}, location};
    m_queued.push_back(note);
    return true;
}

void HttpRequest::OnFinished(DWORD error, bool connectionClosed) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    m_error = error;
    if (!error && !m_haveHeaders)
        m_error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    m_connectionClosed = connectionClosed;
}

bool HttpRequest::Paused() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_paused;
}

void HttpRequest::SetPaused(bool paused) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_paused = paused;
}

void HttpRequest::Deliver() {
    std::lock_guard<std::mutex> delivery(Session().DeliveryLock());
    if (IsClosed())
        return;
    std::vector<Note> notes;
    DWORD_PTR context = 0;
    bool resume = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        notes.swap(m_queued);
        context = m_pendingContext;
        bool done = false;
        INTERNET_ASYNC_RESULT result{TRUE, 0};
        switch (m_pending) {
        case Pending::None:
            break;
        case Pending::Send:
            if (m_haveHeaders) {
                done = true;
            } else if (m_finished) {
                done = true;
                result = {FALSE, m_error};
            }
            break;
        case Pending::Read:
            if (m_readFilled) {
                m_readFilled = false;
                done = true;
            } else if (m_body.Size() > 0) {
                resume = TakeBody(*m_readBuffers);
                done = true;
            } else if (m_finished) {
                m_readBuffers->dwBufferLength = 0;
                EndNotes(notes);
                done = true;
                if (m_error)
                    result = {FALSE, m_error};
            }
            break;
        case Pending::Query:
            if (m_body.Size() > 0) {
                done = true;
                result.dwResult = std::min<size_t>(m_body.Size(), 0x7FFFFFFF);
            } else if (m_finished) {
                done = true;
                result =
                    m_error ? INTERNET_ASYNC_RESULT{FALSE, m_error} : INTERNET_ASYNC_RESULT{0, 0};
            }
            break;
        }
        if (done) {
            m_pending = Pending::None;
            m_readBuffers = nullptr;
            notes.push_back({INTERNET_STATUS_REQUEST_COMPLETE, result, {}});
        }
    }
    m_syncDone.notify_all();
    // The statuses of one delivery go out together: a callback that closes
    // the handle on CLOSING_CONNECTION still gets the completion it waits for.
    Report(notes, context);
    if (resume)
        Resume();
}

} // namespace platform::inet
