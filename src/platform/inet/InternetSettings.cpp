#include "InternetSettings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "../registry/winreg.h"

namespace platform::inet {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

std::string Env(const char *lower, const char *upper) {
    const char *value = getenv(lower);
    if ((!value || !*value) && upper)
        value = getenv(upper);
    return value ? value : "";
}

// A proxy as curl takes it: a bare "host:port" becomes an http:// URL.
std::string ProxyUrl(const std::string &text) {
    if (text.empty() || text.find("://") != std::string::npos)
        return text;
    return "http://" + text;
}

std::vector<std::string> SplitList(const std::string &text, const char *separators) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(separators, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

constexpr char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A value of the user's Internet Settings: a text ("" when absent), a number.
std::string InternetSetting(const char *name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return "";
    char text[1024] = {};
    DWORD type = 0, size = sizeof(text) - 1;
    const bool found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text),
                                        &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    return found ? std::string(text) : "";
}

bool InternetSettingNumber(const char *name, DWORD &value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof(value);
    const bool found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value),
                                        &size) == ERROR_SUCCESS &&
                       type == REG_DWORD && size == sizeof(value);
    RegCloseKey(key);
    return found;
}

} // namespace

ProxySettings ProxySettings::Preconfigured() {
    const std::string server = InternetSetting("ProxyServer");
    DWORD enabled = 0;
    if (InternetSettingNumber("ProxyEnable", enabled) && enabled == 1 && !server.empty())
        return FromLists(server.c_str(), InternetSetting("ProxyOverride").c_str());
    return FromEnvironment();
}

ProxySettings ProxySettings::FromEnvironment() {
    ProxySettings settings;
    // Only the lower-case http_proxy: the upper-case one can be set by a web
    // server for a CGI program from a request header (as curl also decides).
    settings.m_http = ProxyUrl(Env("http_proxy", nullptr));
    settings.m_https = ProxyUrl(Env("https_proxy", "HTTPS_PROXY"));
    for (const std::string &item : SplitList(Env("no_proxy", "NO_PROXY"), ", ;"))
        settings.m_bypass.push_back(Lower(item));
    return settings;
}

ProxySettings ProxySettings::FromLists(const char *proxy, const char *bypass) {
    ProxySettings settings;
    for (const std::string &item : SplitList(proxy ? proxy : "", " ;")) {
        size_t equals = item.find('=');
        if (equals == std::string::npos) {
            settings.m_http = settings.m_https = ProxyUrl(item);
        } else {
            std::string scheme = Lower(item.substr(0, equals));
            std::string url = ProxyUrl(item.substr(equals + 1));
            if (scheme == "http")
                settings.m_http = url;
            else if (scheme == "https")
                settings.m_https = url;
        }
    }
    for (const std::string &item : SplitList(bypass ? bypass : "", ", ;")) {
        if (Lower(item) == "<local>")
            settings.m_bypassLocal = true;
        else
            settings.m_bypass.push_back(Lower(item));
    }
    return settings;
}

bool ProxySettings::Bypassed(const std::string &hostName) const {
    const std::string host = Lower(hostName);
    if (m_bypassLocal && host.find('.') == std::string::npos && host.find(':') == std::string::npos)
        return true;
    for (std::string entry : m_bypass) {
        if (entry == "*")
            return true;
        if (entry.size() > 1 && entry[0] == '*')
            entry.erase(0, 1); // "*.example.org" as ".example.org"
        if (host == entry)
            return true;
        // A domain entry covers its subdomains: "example.org" and ".example.org"
        // both cover "www.example.org".
        std::string suffix = entry[0] == '.' ? entry : "." + entry;
        if (host.size() > suffix.size() &&
            host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

std::string ProxySettings::ProxyFor(bool secure, const std::string &host) const {
    const std::string &proxy = secure ? m_https : m_http;
    if (proxy.empty() || Bypassed(host))
        return "";
    return proxy;
}

Timeouts DefaultTimeouts() {
    Timeouts timeouts;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return timeouts;
    const struct {
        const char *name;
        DWORD *field;
    } values[] = {{"ConnectTimeout", &timeouts.connect},
                  {"SendTimeout", &timeouts.send},
                  {"ReceiveTimeout", &timeouts.receive}};
    for (const auto &value : values) {
        DWORD type = 0, data = 0, size = sizeof(data);
        if (RegQueryValueExA(key, value.name, nullptr, &type, reinterpret_cast<BYTE *>(&data),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof(data) && data != 0)
            *value.field = data;
    }
    RegCloseKey(key);
    return timeouts;
}

bool IsReservedInvalidName(const std::string &hostName) {
    std::string host = Lower(hostName);
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host == "invalid" ||
           (host.size() > 8 && host.compare(host.size() - 8, 8, ".invalid") == 0);
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool SplitUrl(const std::string &url, UrlParts &parts) {
    size_t marker = url.find("://");
    if (marker == std::string::npos || marker == 0)
        return false;
    parts.scheme = Lower(url.substr(0, marker));
    size_t start = marker + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority =
        url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    parts.path = end == std::string::npos ? "" : url.substr(end);
    size_t at = authority.rfind('@'); // user information is not part of the host
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        parts.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            port = authority.substr(close + 2);
    } else {
        size_t colon = authority.rfind(':');
        parts.host = authority.substr(0, colon);
        if (colon != std::string::npos)
            port = authority.substr(colon + 1);
    }
    parts.port = port.empty() ? 0 : atoi(port.c_str());
    return !parts.host.empty() && parts.port >= 0 && parts.port <= 65535;
}

} // namespace platform::inet
