// The user's decisions about the web origins that may drive objects through
// the bridge, kept in the registry:
//
//   HKEY_CURRENT_USER\Software\Quillbay\Bridge\Origins
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

// An origin in the form browsers send it (scheme "http" or "https", a host,
// an optional port; lower case; no path): false for anything else, such as
// "null" (files, sandboxed frames) or an extension's origin.
bool NormalizeOrigin(std::string_view text, std::string &origin);

// The stored decision for an origin, if any.
std::optional<bool> StoredVerdict(const std::string &origin);
bool StoreVerdict(const std::string &origin, bool allowed);
bool ForgetOrigin(const std::string &origin);
std::vector<std::pair<std::string, bool>> StoredOrigins();

} // namespace bridge
