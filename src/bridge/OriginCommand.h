// The bridge's command line for the allowlists: --allow, --block, --forget
// and --list-origins, for the account or (with --machine, as root) for the
// machine, whose allowed origins also go into the browsers' managed
// policies.
#pragma once

#include "BridgeOptions.h"

namespace bridge {

// Runs the command; the exit status: 0 done, 1 not (the registry or a policy
// file could not be written), 2 not an origin.
int ManageOrigins(const BridgeOptions &options);

} // namespace bridge
