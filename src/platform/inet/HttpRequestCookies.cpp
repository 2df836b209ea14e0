// The cookies of a request's exchanges (CookieStore.h): the Cookie header
// each exchange sends, a redirect's included, and the Set-Cookie headers of
// each response received, a redirect's included.
#include <algorithm>
#include <strings.h>

#include "CookieStore.h"
#include "HttpRequest.h"

namespace platform::inet {
namespace {

// Whether a header line ("Name: value") has the name, in any case.
bool Named(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           strncasecmp(line.data(), name.data(), name.size()) == 0;
}

// The address of an exchange as the cookie rules see it: host, path
// (without the query) and whether it is secure.
CookieUrl CookieAddressOf(const Exchange &x) {
    CookieUrl url;
    url.secure = x.secure;
    for (char c : x.host)
        url.host += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string target = x.target;
    UrlParts parts;
    if (target[0] != '/' && SplitUrl(target, parts)) // a proxy's absolute target
        target = parts.path;
    std::string path = target.substr(0, target.find_first_of("?#"));
    url.path = path.empty() || path[0] != '/' ? std::string(1, '/') : std::move(path);
    return url;
}

} // namespace

void HttpRequest::AddCookies(Exchange &x) {
    if (x.cookieLine >= 0) {
        x.headers.erase(x.headers.begin() + x.cookieLine);
    } else if (!x.cookiesAdded) {
        // The application's own Cookie header goes out with the store's.
        auto own = std::find_if(x.headers.begin(), x.headers.end(),
                                [](const std::string &h) { return Named(h, "Cookie"); });
        if (own != x.headers.end()) {
            const size_t value = own->find_first_not_of(" \t", 7);
            x.ownCookie = value == std::string::npos ? "" : own->substr(value);
            x.headers.erase(own);
        }
    }
    x.cookiesAdded = true;
    x.cookieLine = -1;
    std::string cookies = x.ownCookie;
    if (!(m_flags & INTERNET_FLAG_NO_COOKIES)) {
        const std::string stored = CookieStore::Instance().HeaderFor(Session().CookiePartition(),
                                                                     CookieAddressOf(x), true);
        if (!stored.empty())
            cookies += (cookies.empty() ? "" : "; ") + stored;
    }
    if (!cookies.empty()) {
        x.cookieLine = static_cast<int>(x.headers.size());
        x.headers.push_back("Cookie: " + cookies);
    }
}

void HttpRequest::KeepCookies() {
    if (m_flags & INTERNET_FLAG_NO_COOKIES)
        return;
    const CookieUrl from = CookieAddressOf(m_exchange);
    const std::string_view raw = m_incoming;
    for (size_t start = 0; start < raw.size();) {
        size_t end = raw.find("\r\n", start);
        if (end == std::string_view::npos)
            end = raw.size();
        const std::string_view line = raw.substr(start, end - start);
        if (Named(line, "Set-Cookie"))
            CookieStore::Instance().Take(Session().CookiePartition(), from, line.substr(11), true);
        start = end + 2;
    }
}

} // namespace platform::inet
