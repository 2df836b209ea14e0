// The decisions about the web origins that may drive objects through the
// bridge, kept in the registry: the user's own, and the machine's that the
// administrator keeps for every account.
//
//   HKEY_CURRENT_USER\Software\Quillbay\Bridge\Origins
//   HKEY_LOCAL_MACHINE\Software\Quillbay\Bridge\Origins
//     value name: the origin as a browser sends it ("https://shop.example",
//                 "http://127.0.0.1:8080"), REG_DWORD 1 allowed, 0 blocked.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bridge {

inline constexpr const char *kOriginsKey = "Software\\Quillbay\\Bridge\\Origins";

// Whose list: the account's (HKEY_CURRENT_USER) or the machine's
// (HKEY_LOCAL_MACHINE, written by root, read by every account).
enum class OriginScope { User, Machine };

// An origin in the form browsers send it (scheme "http" or "https", a host,
// an optional port; lower case; no path): false for anything else, such as
// "null" (files, sandboxed frames) or an extension's origin.
bool NormalizeOrigin(std::string_view text, std::string &origin);

// The stored decision for an origin in one list, if any.
std::optional<bool> StoredVerdict(const std::string &origin, OriginScope scope = OriginScope::User);
bool StoreVerdict(const std::string &origin, bool allowed, OriginScope scope = OriginScope::User);
bool ForgetOrigin(const std::string &origin, OriginScope scope = OriginScope::User);
std::vector<std::pair<std::string, bool>> StoredOrigins(OriginScope scope = OriginScope::User);

// The decision that holds for this account: a block in either list refuses
// (the account's own block wins over the machine's allow, and the
// administrator's block over the account's allow); else an allow in either
// list allows; else nothing is decided and the user is asked.
std::optional<bool> AccountVerdict(const std::string &origin);

} // namespace bridge
