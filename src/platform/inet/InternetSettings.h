// The settings a session starts from: the proxies (INTERNET_OPEN_TYPE_PRECONFIG
// reads the user's Internet Settings, else the ones a Linux user already has:
// http_proxy, https_proxy, no_proxy), the time-outs (the platform's defaults, overridden by the
// user's Internet Settings in the registry), and the small URL rules every part of the component
// shares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "InternetObject.h"

namespace platform::inet {

class ProxySettings {
public:
    // INTERNET_OPEN_TYPE_PRECONFIG, read now: the user's Internet Settings
    // when they turn a proxy on (ProxyEnable 1 with a ProxyServer, and
    // ProxyOverride as the bypass list), else the environment's.
    static ProxySettings Preconfigured();
    static ProxySettings FromEnvironment();
    // INTERNET_OPEN_TYPE_PROXY: "host:port", or per scheme
    // "http=host:port https=host:port"; the bypass list separated by spaces,
    // commas or semicolons, "<local>" meaning every name without a dot.
    static ProxySettings FromLists(const char *proxy, const char *bypass);
    // INTERNET_OPEN_TYPE_DIRECT.
    static ProxySettings Direct() { return {}; }

    // The proxy URL for a request, or "" to go direct.
    std::string ProxyFor(bool secure, const std::string &host) const;

private:
    bool Bypassed(const std::string &host) const;

    std::string m_http, m_https;
    std::vector<std::string> m_bypass; // lower case; "*" bypasses all
    bool m_bypassLocal = false;
};

// The time-outs a new session starts with: 60 s to connect, 30 s to send and
// to receive, unless HKCU\Software\Microsoft\Windows\CurrentVersion\Internet
// Settings holds ConnectTimeout, SendTimeout or ReceiveTimeout (REG_DWORD,
// milliseconds).
Timeouts DefaultTimeouts();

// Names under ".invalid" never resolve (RFC 6761, section 6.4): they are
// refused at once, without asking any resolver.
bool IsReservedInvalidName(const std::string &host);

// The parts of an absolute URL; false when it has no "scheme://".
struct UrlParts {
    std::string scheme; // lower case
    std::string host;   // without brackets
    int port = 0;       // 0 when the URL names none
    std::string path;   // from the first "/" after the authority, or ""
};
bool SplitUrl(const std::string &url, UrlParts &parts);

// A text with its %XX escapes decoded; a bad escape stays as it is.
std::string PercentDecoded(std::string_view text);

} // namespace platform::inet
