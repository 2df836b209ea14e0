#include "OriginCommand.h"

#include <cstdio>
#include <string>

#include "BrowserPolicies.h"
#include "OriginList.h"

namespace bridge {
namespace {

using Action = BridgeOptions::Action;

int ListOrigins(OriginScope scope) {
    for (const auto &[origin, allowed] : StoredOrigins(scope))
        printf("%s\t%s\n", allowed ? "allowed" : "blocked", origin.c_str());
    if (scope != OriginScope::Machine)
        return 0;
    for (const BrowserPolicies::Written &written : BrowserPolicies().List()) {
        std::string origins;
        for (const std::string &origin : written.origins)
            origins += (origins.empty() ? "" : " ") + origin;
        printf("policy\t%s\t%s\t%s\n", written.file->browser, written.path.c_str(),
               origins.c_str());
    }
    return 0;
}

// The registry first: the machine's list is what every account's bridge
// reads. Forgetting an origin that is not there changes nothing.
bool StoreForMachine(Action action, const std::string &origin) {
    if (action == Action::Forget)
        return !StoredVerdict(origin, OriginScope::Machine) ||
               ForgetOrigin(origin, OriginScope::Machine);
    return StoreVerdict(origin, action == Action::Allow, OriginScope::Machine);
}

int ManageMachine(Action action, const std::string &origin) {
    if (!StoreForMachine(action, origin)) {
        fprintf(stderr, "quillbay-bridge: cannot write the machine's registry "
                        "(HKEY_LOCAL_MACHINE): --machine is for root\n");
        return 1;
    }
    // Then the browsers: an allowed origin in their policies, a forgotten or
    // blocked one out of them.
    BrowserPolicies policies;
    const BrowserPolicies::Outcome outcome =
        action == Action::Allow ? policies.Allow(origin) : policies.Remove(origin);
    for (const std::string &note : outcome.notes)
        fprintf(stderr, "quillbay-bridge: note: %s\n", note.c_str());
    for (const std::string &error : outcome.errors)
        fprintf(stderr, "quillbay-bridge: cannot write the browser policy %s\n", error.c_str());
    return outcome.ok ? 0 : 1;
}

} // namespace

int ManageOrigins(const BridgeOptions &options) {
    const OriginScope scope = options.machine ? OriginScope::Machine : OriginScope::User;
    if (options.action == Action::ListOrigins)
        return ListOrigins(scope);
    std::string origin;
    if (!NormalizeOrigin(options.origin, origin)) {
        fprintf(stderr, "quillbay-bridge: %s is not a web origin (like https://shop.example)\n",
                options.origin.c_str());
        return 2;
    }
    if (options.machine)
        return ManageMachine(options.action, origin);
    bool ok = options.action == Action::Forget
                  ? (ForgetOrigin(origin), true)
                  : StoreVerdict(origin, options.action == Action::Allow);
    if (!ok)
        fprintf(stderr, "quillbay-bridge: cannot write the registry\n");
    return ok ? 0 : 1;
}

} // namespace bridge
