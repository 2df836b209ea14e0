// InternetCheckConnectionA: whether the URL's server can be reached the way
// the requests would reach it. Where a proxy applies to the address (the
// settings a preconfigured session uses: the user's Internet Settings,
// http_proxy, https_proxy, no_proxy), the proxy is asked for the server: a
// CONNECT for https://, a HEAD through it for http://. Otherwise a real TCP
// connection to the server, made and closed at once. All within the
// connect time-out (and the receive time-out for the proxy's answer).
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "InternetSettings.h"

using namespace platform::inet;

namespace {

int DefaultPort(const std::string &scheme) {
    if (scheme == "http")
        return INTERNET_DEFAULT_HTTP_PORT;
    if (scheme == "https")
        return INTERNET_DEFAULT_HTTPS_PORT;
    if (scheme == "ftp")
        return INTERNET_DEFAULT_FTP_PORT;
    return 0;
}

// A connected socket to one address, or -1.
int ConnectWithin(const addrinfo *address, int milliseconds) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address->ai_protocol);
    if (fd < 0)
        return -1;
    bool connected = connect(fd, address->ai_addr, address->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof(error);
        connected = poll(&wait, 1, milliseconds) == 1 &&
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (!connected) {
        close(fd);
        return -1;
    }
    return fd;
}

// A connection to a host and port, or -1 with the error the platform gives.
int Dial(const std::string &host, int port, DWORD unresolved, DWORD &error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo *addresses = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
        error = unresolved;
        return -1;
    }
    const int limit = static_cast<int>(DefaultTimeouts().connect);
    int fd = -1;
    for (const addrinfo *a = addresses; a && fd < 0; a = a->ai_next)
        fd = ConnectWithin(a, limit);
    freeaddrinfo(addresses);
    error = fd < 0 ? ERROR_INTERNET_CANNOT_CONNECT : 0;
    return fd;
}

struct Proxy {
    std::string scheme, host, credentials; // credentials: "user:password", decoded
    int port = 0;
};

bool ProxyOf(const std::string &url, Proxy &proxy) {
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return false;
    proxy.scheme = parts.scheme;
    proxy.host = parts.host;
    proxy.port = parts.port ? parts.port : 1080; // curl's default for a proxy
    const size_t start = url.find("://") + 3;
    const size_t at = url.find('@', start);
    if (at != std::string::npos && at < url.find_first_of("/?#", start))
        proxy.credentials = PercentDecoded(url.substr(start, at - start));
    return true;
}

std::string Base64(const std::string &bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(value >> 18) & 63];
        out += kDigits[(value >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(value >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[value & 63] : '=';
    }
    return out;
}

bool SendAll(int fd, const std::string &text, int milliseconds) {
    for (size_t done = 0; done < text.size();) {
        pollfd wait{fd, POLLOUT, 0};
        if (poll(&wait, 1, milliseconds) != 1)
            return false;
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

// The head of the proxy's answer, up to its blank line; false when none
// came within the time.
bool ReadHead(int fd, int milliseconds, std::string &head) {
    char chunk[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, milliseconds) != 1)
            return false;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n == 0)
            break;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        head.append(chunk, n > 0 ? static_cast<size_t>(n) : 0);
    }
    return head.rfind("HTTP/", 0) == 0;
}

int StatusOf(const std::string &head) {
    const size_t space = head.find(' ');
    return space == std::string::npos ? 0 : atoi(head.c_str() + space + 1);
}

bool HasHeader(const std::string &head, const char *name) {
    const std::string wanted = std::string("\r\n") + name + ":";
    for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
        if (strncasecmp(head.c_str() + at, wanted.c_str(), wanted.size()) == 0)
            return true;
    }
    return false;
}

// Asks an HTTP proxy for the server. A CONNECT is answered 2xx when the
// proxy reached the server. A HEAD's answer is the server's own unless it
// is a gateway's failure (502, 503, 504), a refusal of the proxy's (407),
// or a failure that the proxy made itself (a 5xx without the Via header
// every answer it forwards carries).
bool AskProxy(const Proxy &proxy, const UrlParts &url, int port, DWORD &error) {
    const int fd = Dial(proxy.host, proxy.port, ERROR_INTERNET_PROXY_SERVER_UNREACHABLE, error);
    if (fd < 0)
        return false;
    if (proxy.scheme != "http") { // a proxy of another kind: reaching it is all that is asked
        close(fd);
        return true;
    }
    const bool secure = url.scheme == "https";
    const std::string name =
        url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    const std::string authority = name + ":" + std::to_string(port);
    std::string request = secure
                              ? "CONNECT " + authority + " HTTP/1.1\r\n"
                              : "HEAD http://" + authority + (url.path.empty() ? "/" : url.path) +
                                    " HTTP/1.1\r\nConnection: close\r\n";
    request += "Host: " + authority + "\r\n";
    if (!proxy.credentials.empty())
        request += "Proxy-Authorization: Basic " + Base64(proxy.credentials) + "\r\n";
    request += "\r\n";
    const Timeouts timeouts = DefaultTimeouts();
    std::string head;
    const bool answered = SendAll(fd, request, static_cast<int>(timeouts.send)) &&
                          ReadHead(fd, static_cast<int>(timeouts.receive), head);
    close(fd);
    if (!answered) {
        error = ERROR_INTERNET_TIMEOUT;
        return false;
    }
    const int status = StatusOf(head);
    const bool reached = secure
                             ? status >= 200 && status < 300
                             : status >= 100 && status != 407 && status != 502 && status != 503 &&
                                   status != 504 && (status < 500 || HasHeader(head, "Via"));
    error = reached ? 0 : ERROR_INTERNET_CANNOT_CONNECT;
    return reached;
}

} // namespace

extern "C" BOOL WINAPI InternetCheckConnectionA(LPCSTR lpszUrl, DWORD, DWORD) {
    if (!lpszUrl || !*lpszUrl) {
        SetLastError(ERROR_NOT_SUPPORTED); // the platform keeps no list of servers to try
        return FALSE;
    }
    UrlParts url;
    if (!SplitUrl(lpszUrl, url)) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return FALSE;
    }
    const int port = url.port ? url.port : DefaultPort(url.scheme);
    if (!port) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return FALSE;
    }
    if (IsReservedInvalidName(url.host)) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return FALSE;
    }
    DWORD error = 0;
    bool reached = false;
    Proxy proxy;
    const std::string through =
        url.scheme == "http" || url.scheme == "https"
            ? ProxySettings::Preconfigured().ProxyFor(url.scheme == "https", url.host)
            : std::string();
    if (!through.empty() && ProxyOf(through, proxy)) {
        reached = AskProxy(proxy, url, port, error);
    } else {
        const int fd = Dial(url.host, port, ERROR_INTERNET_NAME_NOT_RESOLVED, error);
        reached = fd >= 0;
        if (reached)
            close(fd);
    }
    SetLastError(reached ? ERROR_SUCCESS : error);
    return reached ? TRUE : FALSE;
}
