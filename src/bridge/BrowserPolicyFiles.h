// Where each browser family reads the machine's managed policies on Linux,
// and the file of quillbay's own there that lists the sites the
// administrator allowed to reach the bridge on loopback.
//
// Chromium, Google Chrome and Microsoft Edge read every JSON file of their
// "managed" folder (Chromium's policy_templates, "Linux: managed policies");
// a policy set in two files takes the list of the file that sorts last, so
// quillbay's file sorts first and an administrator's own list of the same
// policy wins over it. Debian's Firefox packages read every .js file of
// /etc/<package> as default preferences, and there the file that sorts first
// wins, so quillbay's sorts last. Firefox reads one enterprise policies file
// only (policies.json), which belongs to the administrator: quillbay sets the
// preference that the LocalNetworkAccess policy's SkipDomains sets instead.
//
// The packaging's purge script removes these files too (it reads the paths
// from this table).
#pragma once

#include <cstddef>

namespace bridge {

enum class PolicyFormat {
    Chromium, // {"LoopbackNetworkAllowedForUrls": [...], ...}
    Firefox,  // pref("network.lna.skip-domains", "host,host");
};

struct BrowserPolicyFile {
    const char *browser;
    const char *path; // under the policy root ("/" but in tests)
    PolicyFormat format;
};

inline constexpr BrowserPolicyFile kBrowserPolicyFiles[] = {
    {"Chromium", "/etc/chromium/policies/managed/00-quillbay.json", PolicyFormat::Chromium},
    {"Google Chrome", "/etc/opt/chrome/policies/managed/00-quillbay.json", PolicyFormat::Chromium},
    {"Microsoft Edge", "/etc/opt/edge/policies/managed/00-quillbay.json", PolicyFormat::Chromium},
    {"Firefox ESR", "/etc/firefox-esr/zz-quillbay.js", PolicyFormat::Firefox},
    {"Firefox", "/etc/firefox/zz-quillbay.js", PolicyFormat::Firefox},
};
static_assert(sizeof kBrowserPolicyFiles / sizeof kBrowserPolicyFiles[0] == 5);

// The Chromium family's policies: sites exempt from the local network access
// checks for requests to loopback (version 146 on), and the insecure origins
// treated as secure, without which no plain-HTTP page may reach loopback.
inline constexpr const char *kLoopbackAllowedPolicy = "LoopbackNetworkAllowedForUrls";
inline constexpr const char *kInsecureOriginPolicy = "OverrideSecurityRestrictionsOnInsecureOrigin";

// Firefox's preference of hosts exempt from its local network access checks
// (comma-separated, "*.example.com" for a domain's hosts), and the places of
// the administrator's policies file that may set it too.
inline constexpr const char *kFirefoxSkipDomainsPref = "network.lna.skip-domains";
inline constexpr const char *kFirefoxPoliciesFiles[] = {
    "/etc/firefox/policies/policies.json",
    "/etc/firefox-esr/policies/policies.json",
    "/usr/lib/firefox-esr/distribution/policies.json",
    "/usr/lib/firefox/distribution/policies.json",
};

} // namespace bridge
