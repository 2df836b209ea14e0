// InternetCheckConnectionA: a real TCP connection to the URL's server, made
// and closed at once, within the connect time-out.
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
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

bool ConnectWithin(const addrinfo *address, int milliseconds) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address->ai_protocol);
    if (fd < 0)
        return false;
    bool connected = connect(fd, address->ai_addr, address->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof(error);
        connected = poll(&wait, 1, milliseconds) == 1 &&
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    close(fd);
    return connected;
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
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo *addresses = nullptr;
    if (getaddrinfo(url.host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return FALSE;
    }
    const int limit = static_cast<int>(DefaultTimeouts().connect);
    bool connected = false;
    for (const addrinfo *a = addresses; a && !connected; a = a->ai_next)
        connected = ConnectWithin(a, limit);
    freeaddrinfo(addresses);
    if (!connected) {
        SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
