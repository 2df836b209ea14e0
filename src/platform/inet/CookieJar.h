// Cookies as browsers keep them (RFC 6265, sections 5.1 to 5.4, with the
// rules of its successor draft that browsers apply: a Secure cookie only
// from a secure address, a secure cookie never overwritten from a plain
// one, the __Secure- and __Host- prefixes): parsing a Set-Cookie value
// against the address it came from, and the cookies of one partition of the
// store, chosen for each request and ordered as the RFC orders them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::inet {

struct Cookie {
    std::string name, value;
    std::string domain; // lower case, without a leading dot
    std::string path;
    bool hostOnly = true, secure = false, httpOnly = false;
    bool persistent = false;
    int64_t expires = 0; // seconds since 1970, for a persistent cookie
    int64_t created = 0; // microseconds since 1970: orders cookies of equal paths
    int64_t used = 0;    // when last sent, microseconds since 1970

    // The same cookie in the RFC's sense: name, domain, host-only and path.
    bool SameKey(const Cookie &other) const {
        return name == other.name && domain == other.domain && hostOnly == other.hostOnly &&
               path == other.path;
    }
};

// The address a cookie comes from or goes to.
struct CookieUrl {
    std::string host; // lower case
    std::string path; // the request target's path, without its query
    bool secure = false;
};
// The address of an absolute http:// or https:// URL; false for any other.
bool CookieUrlOf(const std::string &url, CookieUrl &out);

// A cookie-date (RFC 6265, section 5.1.1) as seconds since 1970.
bool ParseCookieDate(std::string_view text, int64_t &seconds);
bool DomainMatches(const std::string &host, const std::string &domain);
bool PathMatches(const std::string &requestPath, const std::string &cookiePath);
// Whether a domain is a public suffix (a cookie may never name one).
bool IsPublicSuffix(const std::string &domain);

// A Set-Cookie value received from `from` as a cookie; false when the user
// agent is to ignore it. `now` is in seconds since 1970.
bool ParseSetCookie(std::string_view text, const CookieUrl &from, int64_t now, Cookie &cookie);

// The cookies of one partition.
class CookieJar {
public:
    // What a store did: the cookie stored (if it was), and the cookies it
    // replaced, deleted or pushed out.
    struct Change {
        bool refused = false; // the cookie may not be set from where it came
        std::optional<Cookie> stored;
        std::vector<Cookie> removed;
        bool Persistent() const;
    };

    // Stores a cookie received from `from`: over the one of the same key
    // (keeping its creation time), or deleting it when the new one has
    // expired. fromHttp is false for the application's own calls, which
    // can neither set nor replace an HttpOnly cookie.
    Change Store(Cookie cookie, const CookieUrl &from, bool fromHttp, int64_t now);
    // "name=value; name=value" for a request to `to`, "" when none match.
    std::string Header(const CookieUrl &to, bool forHttp, int64_t now);

    std::vector<Cookie> &Cookies() { return m_cookies; }

private:
    bool ShadowsSecure(const Cookie &cookie, const CookieUrl &from) const;
    void Limit(const std::string &domain, Change &change);

    std::vector<Cookie> m_cookies;
};

} // namespace platform::inet
