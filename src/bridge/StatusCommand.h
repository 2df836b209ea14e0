// quillbay-bridge --status: asks the port pages use, as this account's
// pages would, and says what answers (the dispatcher and this account's
// bridge behind it, the bridge on the port itself, another account's
// bridge, or nothing) and for whom.
#pragma once

#include "BridgeOptions.h"

namespace bridge {

// Prints the answer; 0 when this account's pages reach its bridge, else 1.
int ShowStatus(const BridgeOptions &options);

} // namespace bridge
