// The session's worker on libcurl: one multi handle, driven by one thread,
// runs every transfer of the session's requests. The multi handle keeps the
// TCP (and TLS) connections between transfers, so requests to the same
// server reuse one connection while the server keeps it open.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <curl/curl.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

#include "../kernel/SpinWait.h"
#include "HttpRequest.h"
#include "Tls.h"
#include "Transport.h"

namespace platform::inet {
namespace {

using Clock = std::chrono::steady_clock;

// ---- The error table ------------------------------------------------------------
// Every failure of a transfer reaches the application as one of the
// platform's ERROR_INTERNET_* codes, from this table alone: libcurl's
// results, then the certificate findings (Tls.h) against the request's
// security flags.

struct CurlErrorRule {
    CURLcode code;
    DWORD error;
};
constexpr CurlErrorRule kCurlErrors[] = {
    {CURLE_UNSUPPORTED_PROTOCOL, ERROR_INTERNET_UNRECOGNIZED_SCHEME},
    {CURLE_URL_MALFORMAT, ERROR_INTERNET_INVALID_URL},
    {CURLE_COULDNT_RESOLVE_PROXY, ERROR_INTERNET_PROXY_SERVER_UNREACHABLE},
    {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
    {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
    {CURLE_WEIRD_SERVER_REPLY, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED},
    {CURLE_OUT_OF_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
    {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
    {CURLE_ABORTED_BY_CALLBACK, ERROR_INTERNET_OPERATION_CANCELLED},
    {CURLE_TOO_MANY_REDIRECTS, ERROR_HTTP_REDIRECT_FAILED},
    {CURLE_GOT_NOTHING, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_ABORTED},
    {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET},
    {CURLE_SSL_CONNECT_ERROR, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_PEER_FAILED_VERIFICATION, ERROR_INTERNET_SEC_INVALID_CERT},
    {CURLE_SSL_CACERT_BADFILE, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_SSL_CLIENTCERT, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED},
    {CURLE_BAD_CONTENT_ENCODING, ERROR_INTERNET_DECODING_FAILED},
    {CURLE_WRITE_ERROR, ERROR_NOT_ENOUGH_MEMORY}, // the body found no room
};

struct TlsRule {
    unsigned problem;
    DWORD ignoredBy; // the security flag that accepts the problem; 0 for none
    DWORD error;
};
constexpr TlsRule kTlsRules[] = {
    {kTlsInvalid, 0, ERROR_INTERNET_SEC_INVALID_CERT},
    {kTlsUntrusted, SECURITY_FLAG_IGNORE_UNKNOWN_CA, ERROR_INTERNET_INVALID_CA},
    {kTlsDate, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    {kTlsName, SECURITY_FLAG_IGNORE_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_CN_INVALID},
    {kTlsUsage, SECURITY_FLAG_IGNORE_WRONG_USAGE, ERROR_INTERNET_SEC_INVALID_CERT},
};

DWORD CurlError(CURLcode code) {
    for (const CurlErrorRule &rule : kCurlErrors) {
        if (rule.code == code)
            return rule.error;
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

DWORD TlsError(unsigned problems, DWORD securityFlags) {
    for (const TlsRule &rule : kTlsRules) {
        if ((problems & rule.problem) && !(rule.ignoredBy && (securityFlags & rule.ignoredBy)))
            return rule.error;
    }
    return 0;
}

// ---- Transfers ----------------------------------------------------------------

constexpr size_t kIdleHandles = 4;
// Large reads: fewer, bigger pieces of a body for the reader to take.
constexpr long kReceiveBuffer = 512 * 1024;

class Worker;

struct Transfer {
    std::shared_ptr<HttpRequest> request;
    Worker *worker = nullptr;
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    // The request's exchange (HttpRequest::CurrentExchange): curl keeps
    // pointers into its body. Only the worker changes it while it runs.
    const Exchange *exchange = nullptr;
    std::shared_ptr<TlsFindings> handshake;
    std::string endpoint; // the connection's local address and port, while mapped
    bool inMulti = false, connected = false, paused = false, uploading = false;
    bool connectionClosed = false, touched = false;
    DWORD tlsError = 0;
    Clock::time_point lastProgress;
    curl_off_t down = 0, up = 0;
};

struct Command {
    enum Kind { Start, Cancel, Resume } kind;
    std::shared_ptr<HttpRequest> request;
};

class Worker {
public:
    Worker() : m_multi(curl_multi_init()) {}
    ~Worker() {
        if (m_multi)
            curl_multi_cleanup(m_multi);
    }

    bool Ok() const { return m_multi != nullptr; }
    void Post(Command command);
    // Sets the stop flag; false when it was set already.
    bool RequestStop();
    void Run();

    std::thread m_thread;

private:
    // Takes the posted commands; false when the worker is to stop.
    bool TakeCommands(std::vector<Command> &commands);
    // Waits for the sockets, the next deadline or a command.
    void Sleep(long milliseconds, bool delivered);
    void Handle(Command &command);
    bool Arm(Transfer &t);
    void Prepare(CURL *easy);
    void Configure(Transfer &t);
    void Finish(Transfer &t, CURLcode result);
    void End(Transfer &t, DWORD error);
    void Release(Transfer &t);
    long CheckDeadlines(Clock::time_point now);
    // Delivers to the requests the worker touched; true when there were any.
    bool DeliverTouched();
    void Unmap(Transfer &t);

    static size_t OnHeader(char *data, size_t size, size_t count, void *context);
    static size_t OnBody(char *data, size_t size, size_t count, void *context);
    static int OnProgress(void *context, curl_off_t, curl_off_t downNow, curl_off_t upTotal,
                          curl_off_t upNow);
    static int OnPrerequest(void *context, char *, char *, int, int);
    static CURLcode OnSslContext(CURL *, void *sslContext, void *context);
    static int OnCloseSocket(void *context, curl_socket_t socket);
    void Touch(Transfer &t);

    std::mutex m_lock; // the commands, the stop flag, sleeping and the multi handle's life
    std::vector<Command> m_commands;
    bool m_stop = false;
    bool m_sleeping = false; // in curl_multi_poll: a command must wake it
    // Set with each command (and the stop), for a worker spinning without
    // the lock.
    std::atomic<bool> m_posted{false};
    CURLM *m_multi;
    // Worker thread only.
    std::unordered_map<HttpRequest *, std::unique_ptr<Transfer>> m_transfers;
    // The connection of each running transfer, by its local address and port
    // (curl tells the socket itself only for new connections).
    std::unordered_map<std::string, Transfer *> m_endpoints;
    std::vector<std::shared_ptr<HttpRequest>> m_touched, m_delivering;
    std::vector<CURL *> m_idle; // easy handles kept for the next transfers
    platform::SpinWait m_spin;  // how long the application takes to answer
};

void Worker::Post(Command command) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stop || !m_multi)
        return;
    m_commands.push_back(std::move(command));
    m_posted.store(true, std::memory_order_release);
    // A worker that is not asleep finds the command without being woken.
    if (m_sleeping)
        curl_multi_wakeup(m_multi);
}

bool Worker::RequestStop() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stop)
        return false;
    m_stop = true;
    m_posted.store(true, std::memory_order_release);
    if (m_multi && m_sleeping)
        curl_multi_wakeup(m_multi);
    return true;
}

bool Worker::TakeCommands(std::vector<Command> &commands) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_posted.store(false, std::memory_order_relaxed);
    commands.swap(m_commands);
    return !m_stop;
}

// After a delivery the application usually answers within microseconds
// (a send follows a completed read, a read follows a completed send): an
// idle worker watches for that command for a while before it sleeps.
void Worker::Sleep(long milliseconds, bool delivered) {
    const Clock::time_point start = Clock::now();
    const bool spin = delivered && m_transfers.empty();
    if (spin && m_spin.Spin([this] { return m_posted.load(std::memory_order_acquire); })) {
        m_spin.Learn(start);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_commands.empty() || m_stop)
            return;
        m_sleeping = true;
    }
    curl_multi_poll(m_multi, nullptr, 0, static_cast<int>(milliseconds), nullptr);
    std::lock_guard<std::mutex> guard(m_lock);
    m_sleeping = false;
    if (spin && !m_commands.empty())
        m_spin.Learn(start);
    else if (spin)
        m_spin.Learn(SpinWait::kLongest * 4); // nothing came: a long wait
}

void Worker::Run() {
    std::vector<Command> commands;
    std::vector<std::pair<Transfer *, CURLcode>> done;
    for (;;) {
        if (!TakeCommands(commands))
            break;
        for (Command &command : commands)
            Handle(command);
        commands.clear();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer *t = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
            done.emplace_back(t, message->data.result);
        }
        for (auto &[t, result] : done)
            Finish(*t, result);
        done.clear();
        long wait = CheckDeadlines(Clock::now());
        const bool delivered = DeliverTouched();
        long curlWait = -1;
        curl_multi_timeout(m_multi, &curlWait);
        if (curlWait >= 0 && curlWait < wait)
            wait = curlWait;
        Sleep(wait, delivered);
    }
    for (auto &entry : m_transfers)
        Release(*entry.second);
    m_transfers.clear();
    m_touched.clear();
    for (CURL *easy : m_idle)
        curl_easy_cleanup(easy);
    m_idle.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    m_commands.clear();
    curl_multi_cleanup(m_multi); // closes the kept connections
    m_multi = nullptr;
}

void Worker::Handle(Command &command) {
    HttpRequest *key = command.request.get();
    auto it = m_transfers.find(key);
    switch (command.kind) {
    case Command::Start: {
        if (it != m_transfers.end()) {
            Release(*it->second);
            m_transfers.erase(it);
        }
        auto t = std::make_unique<Transfer>();
        t->request = command.request;
        t->worker = this;
        t->exchange = &t->request->CurrentExchange();
        if (IsReservedInvalidName(t->exchange->host)) {
            t->request->OnFinished(ERROR_INTERNET_NAME_NOT_RESOLVED, false);
            m_touched.push_back(t->request);
            return;
        }
        if (!Arm(*t)) {
            t->request->OnFinished(ERROR_INTERNET_INTERNAL_ERROR, false);
            m_touched.push_back(t->request);
            Release(*t);
            return;
        }
        m_transfers.emplace(key, std::move(t));
        break;
    }
    case Command::Cancel:
        if (it != m_transfers.end()) {
            Release(*it->second);
            m_transfers.erase(it);
        }
        break;
    case Command::Resume:
        if (it != m_transfers.end() && it->second->paused) {
            it->second->paused = false;
            it->second->lastProgress = Clock::now();
            curl_easy_pause(it->second->easy, CURLPAUSE_CONT);
        }
        break;
    }
}

bool Worker::Arm(Transfer &t) {
    if (!t.easy && !m_idle.empty()) {
        t.easy = m_idle.back();
        m_idle.pop_back();
    } else if (!t.easy && (t.easy = curl_easy_init())) {
        Prepare(t.easy);
    }
    if (!t.easy)
        return false;
    curl_slist_free_all(t.headers);
    t.headers = nullptr;
    t.connected = t.paused = t.uploading = t.connectionClosed = false;
    t.tlsError = 0;
    t.down = t.up = 0;
    t.lastProgress = Clock::now();
    Configure(t);
    if (curl_multi_add_handle(m_multi, t.easy) != CURLM_OK)
        return false;
    t.inMulti = true;
    return true;
}

// The options that are the same for every transfer, set once on a new easy
// handle (a handle serves one transfer after another and keeps them).
void Worker::Prepare(CURL *e) {
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A request goes out at once, not held back for the reply to the last.
    curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L); // redirects are the request's (HttpRequest)
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    // Certificates are judged per request (Tls.h); a resumed TLS session
    // would skip the verification that records the findings.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, OnSslContext);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrerequest);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
}

// The options of one exchange. Every one of them is set for every
// transfer, so nothing of the handle's last transfer stays.
void Worker::Configure(Transfer &t) {
    CURL *e = t.easy;
    const Exchange &x = *t.exchange;
    const std::string url = x.origin + "/";
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, x.target.c_str());
    curl_easy_setopt(e, CURLOPT_PROXY, x.proxy.c_str());
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (x.method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (x.method != "GET" || x.hasBody) {
        if (x.method != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, x.method.c_str());
        if (x.hasBody) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(x.body.size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, x.body.data());
        }
    }
    for (const std::string &line : x.headers)
        t.headers = curl_slist_append(t.headers, line.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
    curl_easy_setopt(e, CURLOPT_USERAGENT, x.agent.empty() ? nullptr : x.agent.c_str());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(x.timeouts.connect));
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
}

void Worker::Touch(Transfer &t) {
    if (!t.touched) {
        t.touched = true;
        m_touched.push_back(t.request);
    }
}

size_t Worker::OnHeader(char *data, size_t size, size_t count, void *context) {
    auto &t = *static_cast<Transfer *>(context);
    t.lastProgress = Clock::now();
    t.request->OnHeaderLine(data, size * count);
    t.worker->Touch(t);
    return size * count;
}

size_t Worker::OnBody(char *data, size_t size, size_t count, void *context) {
    auto &t = *static_cast<Transfer *>(context);
    t.lastProgress = Clock::now();
    t.worker->Touch(t);
    switch (t.request->OnBody(data, size * count)) {
    case HttpRequest::Taken::All:
        return size * count;
    case HttpRequest::Taken::Full:
        t.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    case HttpRequest::Taken::Failed:
        break;
    }
    return 0; // curl ends the transfer with CURLE_WRITE_ERROR
}

int Worker::OnProgress(void *context, curl_off_t, curl_off_t downNow, curl_off_t upTotal,
                       curl_off_t upNow) {
    auto &t = *static_cast<Transfer *>(context);
    if (downNow != t.down || upNow != t.up) {
        t.down = downNow;
        t.up = upNow;
        t.lastProgress = Clock::now();
    }
    t.uploading = upTotal > 0 && upNow < upTotal;
    return 0;
}

// The connection is made (or taken from the kept ones) and the request is
// about to go: note its socket, and judge its certificate for this request.
int Worker::OnPrerequest(void *context, char *, char *localIp, int, int localPort) {
    auto &t = *static_cast<Transfer *>(context);
    t.connected = true;
    t.lastProgress = Clock::now();
    if (localIp) {
        t.endpoint = std::string(localIp) + "|" + std::to_string(localPort);
        t.worker->m_endpoints[t.endpoint] = &t;
    }
    if (!t.exchange->secure)
        return CURL_PREREQFUNC_OK;
    curl_tlssessioninfo *info = nullptr;
    curl_easy_getinfo(t.easy, CURLINFO_TLS_SSL_PTR, &info);
    void *ssl = info && info->backend == CURLSSLBACKEND_OPENSSL ? info->internals : nullptr;
    unsigned problems = kTlsInvalid;
    if (ssl) {
        auto findings = FindingsOfConnection(ssl);
        problems = findings ? findings->problems.load() : kTlsInvalid;
        if (!CertificateNamesHost(ssl, t.exchange->host))
            problems |= kTlsName;
    }
    t.tlsError = TlsError(problems, t.exchange->securityFlags);
    return t.tlsError ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

CURLcode Worker::OnSslContext(CURL *, void *sslContext, void *context) {
    auto &t = *static_cast<Transfer *>(context);
    t.handshake = std::make_shared<TlsFindings>();
    PrepareTlsContext(sslContext, t.handshake);
    return CURLE_OK;
}

// The local address and port of a socket, as curl reports them.
std::string EndpointOf(curl_socket_t socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return "";
    char text[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (address.ss_family == AF_INET) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
        port = ntohs(v6->sin6_port);
    } else {
        return "";
    }
    return std::string(text) + "|" + std::to_string(port);
}

int Worker::OnCloseSocket(void *context, curl_socket_t socket) {
    auto *worker = static_cast<Worker *>(context);
    if (!worker->m_endpoints.empty()) {
        auto it = worker->m_endpoints.find(EndpointOf(socket));
        if (it != worker->m_endpoints.end()) {
            it->second->connectionClosed = true;
            it->second->endpoint.clear();
            worker->m_endpoints.erase(it);
        }
    }
    return close(socket);
}

void Worker::Unmap(Transfer &t) {
    if (!t.endpoint.empty()) {
        auto it = m_endpoints.find(t.endpoint);
        if (it != m_endpoints.end() && it->second == &t)
            m_endpoints.erase(it);
        t.endpoint.clear();
    }
}

void Worker::Finish(Transfer &t, CURLcode result) {
    HttpRequest &request = *t.request;
    if (result == CURLE_OK && request.IsRedirecting()) {
        char *location = nullptr;
        curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &location);
        DWORD error = ERROR_HTTP_REDIRECT_FAILED;
        if (location && request.FollowRedirect(location, error)) {
            curl_multi_remove_handle(m_multi, t.easy);
            t.inMulti = false;
            Unmap(t);
            t.exchange = &request.CurrentExchange();
            Touch(t);
            if (IsReservedInvalidName(t.exchange->host))
                error = ERROR_INTERNET_NAME_NOT_RESOLVED;
            else if (Arm(t))
                return;
            else
                error = ERROR_INTERNET_INTERNAL_ERROR;
        }
        End(t, error);
        return;
    }
    DWORD error = 0;
    if (result != CURLE_OK) {
        error = t.tlsError ? t.tlsError : CurlError(result);
        if (t.handshake && t.handshake->clientCertificateRequested) {
            error = ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
            request.Session().SetWantsClientCertificate(request.ServerKey(), true);
        }
    }
    End(t, error);
}

// Ends a transfer and reports it: taking it out of the multi handle closes
// its connection when it did not finish, which the socket hook notes.
void Worker::End(Transfer &t, DWORD error) {
    std::shared_ptr<HttpRequest> request = t.request;
    if (t.inMulti) {
        curl_multi_remove_handle(m_multi, t.easy);
        t.inMulti = false;
    }
    Unmap(t);
    const bool closed = t.connectionClosed;
    Release(t);
    request->OnFinished(error, closed);
    m_touched.push_back(request);
    m_transfers.erase(request.get());
}

void Worker::Release(Transfer &t) {
    if (t.easy) {
        if (t.inMulti)
            curl_multi_remove_handle(m_multi, t.easy);
        if (m_idle.size() < kIdleHandles)
            m_idle.push_back(t.easy);
        else
            curl_easy_cleanup(t.easy);
        t.easy = nullptr;
    }
    t.inMulti = false;
    Unmap(t);
    curl_slist_free_all(t.headers);
    t.headers = nullptr;
}

// Ends transfers whose server has been silent longer than the request's send
// or receive time-out allows; answers how long the worker may sleep.
long Worker::CheckDeadlines(Clock::time_point now) {
    long wait = 1000;
    std::vector<Transfer *> expired;
    for (auto &entry : m_transfers) {
        Transfer &t = *entry.second;
        if (!t.connected || t.paused || !t.inMulti)
            continue;
        const DWORD limit = t.uploading ? t.exchange->timeouts.send : t.exchange->timeouts.receive;
        if (limit == 0)
            continue;
        const Clock::time_point deadline = t.lastProgress + std::chrono::milliseconds(limit);
        if (now >= deadline) {
            expired.push_back(&t);
        } else {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            wait = std::min<long>(wait, static_cast<long>(left.count()) + 1);
        }
    }
    for (Transfer *t : expired)
        End(*t, ERROR_INTERNET_TIMEOUT);
    return wait;
}

bool Worker::DeliverTouched() {
    if (m_touched.empty())
        return false;
    // The two lists trade places, so neither allocates once they have grown.
    std::vector<std::shared_ptr<HttpRequest>> &touched = m_delivering;
    touched.swap(m_touched);
    for (auto &request : touched) {
        auto it = m_transfers.find(request.get());
        if (it != m_transfers.end())
            it->second->touched = false;
    }
    for (auto &request : touched)
        request->Deliver();
    touched.clear();
    return true;
}

// ---- The session's facade ----------------------------------------------------------

class CurlTransport : public Transport {
public:
    explicit CurlTransport(std::shared_ptr<Worker> worker) : m_worker(std::move(worker)) {}
    ~CurlTransport() override { Stop(); }

    void Start(std::shared_ptr<HttpRequest> request) override {
        m_worker->Post({Command::Start, std::move(request)});
    }
    void Cancel(HttpRequest *request) override {
        m_worker->Post(
            {Command::Cancel, std::static_pointer_cast<HttpRequest>(request->shared_from_this())});
    }
    void Resume(HttpRequest *request) override {
        m_worker->Post(
            {Command::Resume, std::static_pointer_cast<HttpRequest>(request->shared_from_this())});
    }
    void Stop() override {
        if (!m_worker->RequestStop())
            return;
        // A callback on the worker may close its own session: the thread then
        // finishes by itself, holding the worker.
        if (m_worker->m_thread.get_id() == std::this_thread::get_id())
            m_worker->m_thread.detach();
        else if (m_worker->m_thread.joinable())
            m_worker->m_thread.join();
    }

private:
    std::shared_ptr<Worker> m_worker;
};

} // namespace

std::unique_ptr<Transport> Transport::Create(InternetSession &) {
    static std::once_flag once;
    static bool initialised = false;
    std::call_once(once, [] { initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    if (!initialised)
        return nullptr;
    auto worker = std::make_shared<Worker>();
    if (!worker->Ok())
        return nullptr;
    try {
        worker->m_thread = std::thread([worker] { worker->Run(); });
    } catch (...) {
        return nullptr;
    }
    return std::make_unique<CurlTransport>(worker);
}

} // namespace platform::inet
