#include "CookieJar.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>

#include "InternetSettings.h"

namespace platform::inet {
namespace {

// A name and value together may hold this many bytes; a domain this many
// cookies, a partition this many (the limits browsers keep).
constexpr size_t kMaxCookieBytes = 4096;
constexpr size_t kMaxPerDomain = 180;
constexpr size_t kMaxPerJar = 3000;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// Control characters other than the tab make a cookie void.
bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

bool IsIpAddress(const std::string &host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The default path of a request path (section 5.1.4).
std::string DefaultPath(const std::string &path) {
    if (path.empty() || path[0] != '/')
        return "/";
    const size_t last = path.rfind('/');
    return last == 0 ? "/" : path.substr(0, last);
}

// Strictly increasing, so two cookies never share a creation time.
int64_t NowMicroseconds() {
    static std::atomic<int64_t> last{0};
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    int64_t previous = last.load(), next = 0;
    do {
        next = std::max(now, previous + 1);
    } while (!last.compare_exchange_weak(previous, next));
    return next;
}

// The delimiters of a cookie-date (section 5.1.1).
bool IsDateDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
           (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Leading digits of a token: between min and max of them, followed by
// anything but another digit.
bool Digits(std::string_view token, size_t min, size_t max, int &value, size_t &used) {
    used = 0;
    value = 0;
    while (used < token.size() && isdigit(static_cast<unsigned char>(token[used])) && used < max)
        value = value * 10 + (token[used++] - '0');
    return used >= min &&
           (used == token.size() || !isdigit(static_cast<unsigned char>(token[used])));
}

bool TimeOfDay(std::string_view token, int &hour, int &minute, int &second) {
    int *parts[] = {&hour, &minute, &second};
    for (int i = 0; i < 3; ++i) {
        size_t used = 0;
        if (!Digits(token, 1, 2, *parts[i], used))
            return false;
        token.remove_prefix(used);
        if (i < 2) {
            if (token.empty() || token[0] != ':')
                return false;
            token.remove_prefix(1);
        }
    }
    return true;
}

int Month(std::string_view token) {
    static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (strncasecmp(token.data(), kMonths[i], 3) == 0)
            return i + 1;
    }
    return 0;
}

bool ValidDate(int year, int month, int day, int hour, int minute, int second) {
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return year >= 1601 && month >= 1 && day >= 1 && day <= kDays[month - 1] &&
           (month != 2 || day <= (leap ? 29 : 28)) && hour <= 23 && minute <= 59 && second <= 59;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    return b > 0 && a > INT64_MAX - b ? INT64_MAX : a + b;
}

} // namespace

bool CookieUrlOf(const std::string &url, CookieUrl &out) {
    UrlParts parts;
    if (!SplitUrl(url, parts) || (parts.scheme != "http" && parts.scheme != "https"))
        return false;
    out.host = Lower(parts.host);
    out.secure = parts.scheme == "https";
    out.path = parts.path.substr(0, parts.path.find_first_of("?#"));
    if (out.path.empty())
        out.path = "/";
    return true;
}

bool ParseCookieDate(std::string_view text, int64_t &seconds) {
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsDateDelimiter(static_cast<unsigned char>(text[at])))
            ++at;
        size_t end = at;
        while (end < text.size() && !IsDateDelimiter(static_cast<unsigned char>(text[end])))
            ++end;
        const std::string_view token = text.substr(at, end - at);
        at = end;
        if (token.empty())
            continue;
        size_t used = 0;
        int number = 0;
        if (!haveTime && TimeOfDay(token, hour, minute, second))
            haveTime = true;
        else if (!haveDay && Digits(token, 1, 2, number, used))
            haveDay = true, day = number;
        else if (!haveMonth && (month = Month(token)) != 0)
            haveMonth = true;
        else if (!haveYear && Digits(token, 2, 4, number, used))
            haveYear = true, year = number;
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear)
        return false;
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year <= 69)
        year += 2000;
    if (!ValidDate(year, month, day, hour, minute, second))
        return false;
    tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    date.tm_hour = hour;
    date.tm_min = minute;
    date.tm_sec = second;
    seconds = static_cast<int64_t>(timegm(&date));
    return true;
}

bool DomainMatches(const std::string &host, const std::string &domain) {
    if (host == domain)
        return true;
    return host.size() > domain.size() && !domain.empty() &&
           host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
           host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(const std::string &requestPath, const std::string &cookiePath) {
    if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0)
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
           requestPath[cookiePath.size()] == '/';
}

namespace {

// The attributes of a Set-Cookie value (section 5.2); the last of a name wins.
struct Attributes {
    std::optional<int64_t> maxAge, expires;
    std::string domain, path;
    bool secure = false, httpOnly = false;
};

// A Max-Age's expiry: at once for 0 and less.
std::optional<int64_t> MaxAgeExpiry(std::string_view value, int64_t now) {
    if (value.empty() || !(isdigit(static_cast<unsigned char>(value[0])) || value[0] == '-'))
        return std::nullopt;
    const std::string digits(value);
    char *end = nullptr;
    errno = 0;
    const long long delta = strtoll(digits.c_str(), &end, 10);
    if (*end != 0 || digits == "-")
        return std::nullopt;
    return delta <= 0 ? INT64_MIN : SaturatingAdd(now, errno ? INT64_MAX : delta);
}

Attributes ReadAttributes(std::string_view rest, int64_t now) {
    Attributes a;
    while (!rest.empty()) {
        const size_t next = rest.find(';');
        const std::string_view av = rest.substr(0, next);
        rest = next == std::string_view::npos ? "" : rest.substr(next + 1);
        const size_t sign = av.find('=');
        const std::string name = Lower(Trim(av.substr(0, sign)));
        const std::string_view value =
            sign == std::string_view::npos ? "" : Trim(av.substr(sign + 1));
        int64_t seconds = 0;
        if (name == "expires" && ParseCookieDate(value, seconds))
            a.expires = seconds;
        else if (name == "max-age" && MaxAgeExpiry(value, now))
            a.maxAge = MaxAgeExpiry(value, now);
        else if (name == "domain" && !value.empty())
            a.domain = Lower(value[0] == '.' ? value.substr(1) : value);
        else if (name == "path")
            a.path = !value.empty() && value[0] == '/' ? std::string(value) : "";
        else if (name == "secure")
            a.secure = true;
        else if (name == "httponly")
            a.httpOnly = true;
    }
    return a;
}

// The cookie's domain from its Domain attribute: never a public suffix (a
// suffix's own host keeps the cookie to itself) nor a domain the address
// is not in.
bool PlaceCookie(std::string domain, const CookieUrl &from, Cookie &cookie) {
    if (!domain.empty()) {
        if (IsIpAddress(from.host) ? domain != from.host : IsPublicSuffix(domain)) {
            if (domain != from.host)
                return false;
            domain.clear();
        } else if (!DomainMatches(from.host, domain)) {
            return false;
        }
    }
    cookie.hostOnly = domain.empty();
    cookie.domain = domain.empty() ? from.host : domain;
    return true;
}

} // namespace

bool ParseSetCookie(std::string_view text, const CookieUrl &from, int64_t now, Cookie &cookie) {
    const size_t semicolon = text.find(';');
    const std::string_view pair = text.substr(0, semicolon);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
        return false;
    cookie = Cookie();
    cookie.name = Trim(pair.substr(0, equals));
    cookie.value = Trim(pair.substr(equals + 1));
    if (cookie.name.empty() || HasControl(cookie.name) || HasControl(cookie.value) ||
        cookie.name.size() + cookie.value.size() > kMaxCookieBytes)
        return false;
    const Attributes a =
        ReadAttributes(semicolon == std::string_view::npos ? "" : text.substr(semicolon + 1), now);
    cookie.secure = a.secure;
    cookie.httpOnly = a.httpOnly;
    cookie.persistent = a.maxAge || a.expires;
    cookie.expires = a.maxAge ? *a.maxAge : a.expires.value_or(0); // Max-Age wins
    if (!PlaceCookie(a.domain, from, cookie))
        return false;
    cookie.path = a.path.empty() ? DefaultPath(from.path) : a.path;
    // A Secure cookie only from a secure address; the prefixes' promises.
    if (cookie.secure && !from.secure)
        return false;
    if (cookie.name.rfind("__Secure-", 0) == 0 && !cookie.secure)
        return false;
    return cookie.name.rfind("__Host-", 0) != 0 ||
           (cookie.secure && cookie.hostOnly && cookie.path == "/");
}

bool CookieJar::Change::Persistent() const {
    return (stored && stored->persistent) ||
           std::any_of(removed.begin(), removed.end(),
                       [](const Cookie &c) { return c.persistent; });
}

// A plain address may not set a cookie that would shadow a secure one of
// the same name (the successor draft's "leave secure cookies alone").
bool CookieJar::ShadowsSecure(const Cookie &cookie, const CookieUrl &from) const {
    if (from.secure)
        return false;
    return std::any_of(m_cookies.begin(), m_cookies.end(), [&](const Cookie &old) {
        return old.secure && old.name == cookie.name &&
               (DomainMatches(old.domain, cookie.domain) ||
                DomainMatches(cookie.domain, old.domain)) &&
               PathMatches(cookie.path, old.path);
    });
}

CookieJar::Change CookieJar::Store(Cookie cookie, const CookieUrl &from, bool fromHttp,
                                   int64_t now) {
    Change change;
    change.refused = (cookie.httpOnly && !fromHttp) || ShadowsSecure(cookie, from);
    if (change.refused)
        return change;
    auto old = std::find_if(m_cookies.begin(), m_cookies.end(),
                            [&](const Cookie &c) { return c.SameKey(cookie); });
    cookie.created = NowMicroseconds();
    if (old != m_cookies.end()) {
        change.refused = old->httpOnly && !fromHttp;
        if (change.refused)
            return change;
        cookie.created = old->created;
        change.removed.push_back(*old);
        m_cookies.erase(old);
    }
    if (cookie.persistent && cookie.expires <= now)
        return change; // an expired cookie only deletes
    cookie.used = NowMicroseconds();
    m_cookies.push_back(cookie);
    change.stored = cookie;
    Limit(cookie.domain, change);
    return change;
}

// Keeps a domain's and the jar's cookies within their limits: the least
// recently used go first.
void CookieJar::Limit(const std::string &domain, Change &change) {
    auto evict = [&](auto belongs, size_t limit) {
        for (;;) {
            auto oldest = m_cookies.end();
            size_t count = 0;
            for (auto it = m_cookies.begin(); it != m_cookies.end(); ++it) {
                if (!belongs(*it))
                    continue;
                ++count;
                if (oldest == m_cookies.end() || it->used < oldest->used)
                    oldest = it;
            }
            if (count <= limit)
                return;
            change.removed.push_back(*oldest);
            m_cookies.erase(oldest);
        }
    };
    evict([&](const Cookie &c) { return c.domain == domain; }, kMaxPerDomain);
    evict([](const Cookie &) { return true; }, kMaxPerJar);
}

std::string CookieJar::Header(const CookieUrl &to, bool forHttp, int64_t now) {
    m_cookies.erase(
        std::remove_if(m_cookies.begin(), m_cookies.end(),
                       [now](const Cookie &c) { return c.persistent && c.expires <= now; }),
        m_cookies.end());
    std::vector<Cookie *> chosen;
    for (Cookie &c : m_cookies) {
        const bool host = c.hostOnly ? to.host == c.domain : DomainMatches(to.host, c.domain);
        if (host && PathMatches(to.path, c.path) && (!c.secure || to.secure) &&
            (!c.httpOnly || forHttp))
            chosen.push_back(&c);
    }
    // Longer paths first; of equal paths the older first (section 5.4).
    std::sort(chosen.begin(), chosen.end(), [](const Cookie *a, const Cookie *b) {
        return a->path.size() != b->path.size() ? a->path.size() > b->path.size()
                                                : a->created < b->created;
    });
    std::string header;
    const int64_t used = NowMicroseconds();
    for (Cookie *c : chosen) {
        header += (header.empty() ? "" : "; ") + c->name + "=" + c->value;
        c->used = used;
    }
    return header;
}

} // namespace platform::inet
