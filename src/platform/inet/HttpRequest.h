// An HTTP request handle (HttpOpenRequestA) and everything that happens to
// it: the headers the application adds, the exchange handed to the worker,
// the response as the worker receives it, and the completion of the
// application's pending calls.
//
// Threads: the application calls the API on its thread; the worker reports
// headers, body bytes and the end of the transfer under the request's lock
// and then calls Deliver(), which completes a pending call (copying into the
// application's buffer for a read) and reports to the status callback
// outside that lock, under the session's delivery lock.
#pragma once

#include <condition_variable>
#include <string>
#include <vector>

#include "BodyBuffer.h"
#include "InternetSession.h"

namespace platform::inet {

// What the worker sends: computed by HttpSendRequestA, replaced on a redirect.
struct Exchange {
    std::string method;
    std::string origin; // "scheme://host:port"
    std::string target; // the request target, sent as it stands
    std::string host;   // for the .invalid rule and the certificate's name
    bool secure = false;
    std::string proxy;                // "" to go direct
    std::vector<std::string> headers; // header lines as curl takes them
    std::string body;
    bool hasBody = false;
    std::string agent;
    Timeouts timeouts;
    DWORD securityFlags = 0;
    std::string ownCookie; // the application's own Cookie header's value
    int cookieLine = -1;   // where the Cookie header is in `headers`
    bool cookiesAdded = false;
};

class HttpRequest : public InternetObject {
public:
    HttpRequest(const std::shared_ptr<InternetConnection> &connection, const char *verb,
                const char *object, const char *referrer, const char *const *acceptTypes,
                DWORD flags, DWORD_PTR context);

    // ---- The API, on the application's thread ----
    BOOL AddHeaders(const char *text, DWORD length, DWORD modifiers);
    BOOL Send(const char *headers, DWORD headersLength, const void *body, DWORD bodyLength);
    BOOL QueryInfo(DWORD level, LPVOID buffer, LPDWORD length);
    BOOL Read(INTERNET_BUFFERSA *buffers, DWORD_PTR context);
    BOOL QueryDataAvailable(LPDWORD available, DWORD_PTR context);
    DWORD Flags() const { return m_flags; }
    // The address the request goes to (INTERNET_OPTION_URL).
    std::string Url() const;
    DWORD SecurityFlags();
    void SetSecurityFlags(DWORD flags);
    void Close() override;

    // ---- The worker's side ----
    // The exchange to run (valid from Start until the transfer is done).
    const Exchange &CurrentExchange() const { return m_exchange; }
    // A header line of a response, as received (CR LF included).
    void OnHeaderLine(const char *line, size_t length);
    // Body bytes: taken, or the worker is to pause until Resume (the reader
    // is behind), or to end the transfer (no memory for them).
    enum class Taken { All, Full, Failed };
    Taken OnBody(const char *data, size_t length);
    // Whether the current response is a redirect being followed (its body
    // is dropped and the transfer goes on with the next exchange).
    bool IsRedirecting();
    // Moves the exchange to the redirect's target URL; otherwise gives the
    // error that ends the request.
    bool FollowRedirect(const std::string &location, DWORD &error);
    // The transfer ended: error 0 or an ERROR_INTERNET_* code, and whether
    // the server's connection was closed with it.
    void OnFinished(DWORD error, bool connectionClosed);
    // Completes what is due; called by the worker after reporting.
    void Deliver();
    // Whether the worker paused this transfer and waits for Resume.
    bool Paused();
    void SetPaused(bool paused);
    // For the client-certificate rule: "host:port".
    std::string ServerKey() const;

private:
    enum class Pending { None, Send, Read, Query };
    struct Note {
        DWORD status;
        INTERNET_ASYNC_RESULT result{};
        std::string text; // the status information when it is text
    };

    std::string RequestTarget() const;
    // The Cookie header of the exchange's address: the application's own
    // cookies, then the store's (unless INTERNET_FLAG_NO_COOKIES); again
    // for each redirect (HttpRequestCookies.cpp).
    void AddCookies(Exchange &x);
    // Hands the Set-Cookie headers of the response being received to the
    // store (under m_lock).
    void KeepCookies();
    void BuildExchange(const char *extra, DWORD extraLength, const void *body, DWORD length);
    // Moves buffered bytes into a read's buffer; whether the worker may go
    // on (under m_lock).
    bool TakeBody(INTERNET_BUFFERSA &buffers);
    // The end of the body reached by a read: the closing statuses when the
    // server closed its connection (once), then the read's own result.
    void EndNotes(std::vector<Note> &notes);
    // Runs the notes on the calling thread.
    void Report(const std::vector<Note> &notes, DWORD_PTR context);
    // In a session without INTERNET_FLAG_ASYNC a call waits here, under
    // m_lock, for what it would otherwise leave pending.
    void WaitFor(std::unique_lock<std::mutex> &lock, Pending what);
    bool Ready(Pending what) const; // under m_lock
    void Resume();

    const std::shared_ptr<InternetConnection> m_connection;
    const std::string m_verb, m_object, m_referrer;
    std::string m_accept;
    const DWORD m_flags;

    std::mutex m_lock;
    std::condition_variable m_syncDone;
    std::vector<std::string> m_headers; // added request headers, "Name: value"
    DWORD m_securityFlags;
    Exchange m_exchange;
    bool m_started = false;
    int m_redirects = 0;
    // The response.
    std::string m_incoming; // header lines of the response being received
    int m_incomingStatus = 0;
    bool m_locationSeen = false, m_locationGiven = false; // its Location header
    std::string m_rawHeaders;                             // the final response's, CR LF separated
    int m_status = 0;
    bool m_haveHeaders = false;
    bool m_redirecting = false;
    BodyBuffer m_body; // received, not yet read
    bool m_finished = false;
    DWORD m_error = 0;
    bool m_connectionClosed = false, m_closeAnnounced = false;
    bool m_paused = false;
    // The pending call.
    Pending m_pending = Pending::None;
    INTERNET_BUFFERSA *m_readBuffers = nullptr;
    // The worker wrote the pending read's bytes straight into its buffer.
    bool m_readFilled = false;
    DWORD_PTR m_pendingContext = 0;
    std::vector<Note> m_queued; // statuses for the next Deliver

    friend class CurlTransport;
};

} // namespace platform::inet
