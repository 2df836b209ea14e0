// The browsers' side of the machine's allowlist: today's browsers refuse a
// public site's requests to loopback unless the user or a managed policy
// lets that site through (local network access). quillbay-bridge --allow
// ORIGIN --machine names the origin in a policy file of quillbay's own for
// each browser family (BrowserPolicyFiles.h); --forget and --block take it
// out, and a file left without origins is removed (its folders stay). Only
// the given origin's entries change, so other origins' entries, and every
// file of the administrator's, stay as they are.
#pragma once

#include <string>
#include <vector>

#include "BrowserPolicyFiles.h"

namespace bridge {

class BrowserPolicies {
public:
    // Files under the policy root: QUILLBAY_POLICY_ROOT when set (a folder
    // that stands for "/", for tests), else "/".
    BrowserPolicies();
    explicit BrowserPolicies(std::string root);

    struct Outcome {
        bool ok = true;
        std::vector<std::string> errors; // a file that could not be written
        std::vector<std::string> notes;  // an administrator's file that overrides ours
    };
    Outcome Allow(const std::string &origin);
    Outcome Remove(const std::string &origin);

    struct Written {
        const BrowserPolicyFile *file;
        std::string path;
        std::vector<std::string> origins;
    };
    // The files of quillbay's that are there, with the origins they name.
    std::vector<Written> List() const;

private:
    void Update(const BrowserPolicyFile &file, const std::string &origin, bool add,
                Outcome &outcome) const;
    std::string m_root;
};

} // namespace bridge
