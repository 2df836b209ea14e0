#include "OriginList.h"

#include <cctype>

#include "platform/win32.h"

namespace bridge {
namespace {

bool ValidHost(std::string_view host) {
    if (host.empty())
        return false;
    if (host.front() == '[') // an IPv6 address
        return host.size() > 2 && host.back() == ']' &&
               host.find_first_not_of("0123456789abcdef:.", 1) == host.size() - 1;
    for (char c : host) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return true;
}

bool ValidPort(std::string_view port) {
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos)
        return false;
    return std::stoi(std::string(port)) <= 65535;
}

HKEY OpenOrigins(OriginScope scope, bool create) {
    HKEY root = scope == OriginScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY key = nullptr;
    LSTATUS status = create ? RegCreateKeyExA(root, kOriginsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, &key, nullptr)
                            : RegOpenKeyExA(root, kOriginsKey, 0, KEY_READ, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

} // namespace

bool NormalizeOrigin(std::string_view text, std::string &origin) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    while (!lower.empty() && lower.back() == '/')
        lower.pop_back(); // as typed by a person: "https://shop.example/"
    size_t scheme = lower.find("://");
    if (scheme == std::string::npos)
        return false;
    std::string_view name(lower.data(), scheme);
    if (name != "http" && name != "https")
        return false;
    std::string_view rest(lower.data() + scheme + 3, lower.size() - scheme - 3);
    size_t colon = rest.rfind(':');
    if (colon == rest.npos || rest.find(']', colon) != rest.npos) {
        if (!ValidHost(rest))
            return false;
        origin = lower;
        return true;
    }
    std::string_view host = rest.substr(0, colon), port = rest.substr(colon + 1);
    if (!ValidHost(host) || !ValidPort(port))
        return false;
    // Browsers leave the scheme's own port out.
    const bool usual = (name == "http" && port == "80") || (name == "https" && port == "443");
    origin = usual ? std::string(name) + "://" + std::string(host) : lower;
    return true;
}

std::optional<bool> StoredVerdict(const std::string &origin, OriginScope scope) {
    HKEY key = OpenOrigins(scope, false);
    if (!key)
        return std::nullopt;
    DWORD value = 0, size = sizeof value, type = 0;
    LSTATUS status = RegQueryValueExA(key, origin.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD)
        return std::nullopt;
    return value != 0;
}

bool StoreVerdict(const std::string &origin, bool allowed, OriginScope scope) {
    HKEY key = OpenOrigins(scope, true);
    if (!key)
        return false;
    DWORD value = allowed ? 1 : 0;
    LSTATUS status = RegSetValueExA(key, origin.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ForgetOrigin(const std::string &origin, OriginScope scope) {
    HKEY key = OpenOrigins(scope, false);
    if (!key)
        return false;
    LSTATUS status = RegDeleteValueA(key, origin.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::vector<std::pair<std::string, bool>> StoredOrigins(OriginScope scope) {
    std::vector<std::pair<std::string, bool>> origins;
    HKEY key = OpenOrigins(scope, false);
    if (!key)
        return origins;
    for (DWORD index = 0;; ++index) {
        char name[1024];
        DWORD nameLength = sizeof name, type = 0, value = 0, size = sizeof value;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE *>(&value), &size) != ERROR_SUCCESS)
            break;
        if (type == REG_DWORD)
            origins.emplace_back(std::string(name, nameLength), value != 0);
    }
    RegCloseKey(key);
    return origins;
}

std::optional<bool> AccountVerdict(const std::string &origin) {
    const std::optional<bool> own = StoredVerdict(origin, OriginScope::User);
    const std::optional<bool> machine = StoredVerdict(origin, OriginScope::Machine);
    if (own == false || machine == false)
        return false;
    if (own == true || machine == true)
        return true;
    return std::nullopt;
}

} // namespace bridge
