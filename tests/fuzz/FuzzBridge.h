// The bridge in process for its fuzz targets: the sessions, the origin
// policy and the router on an I/O loop the target runs itself, living to
// the process's end as the bridge does. Between inputs the sessions an
// input opened are closed, so every input meets the same bridge.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <memory>

#include "BridgeOptions.h"
#include "OriginPolicy.h"
#include "Router.h"
#include "SessionTable.h"

namespace fuzz_bridge {

// The port the seeds' Host headers name, and the token their
// Authorization headers carry.
inline constexpr unsigned short kPort = 18412;
inline constexpr const char *kToken = "0123456789abcdef0123456789abcdef";

struct Bridge {
    Bridge() : sessions(io, options), policy(io), router(options, sessions, policy, kToken) {
        router.SetPort(kPort);
    }
    boost::asio::io_context io;
    bridge::BridgeOptions options;
    bridge::SessionTable sessions;
    bridge::OriginPolicy policy;
    bridge::Router router;
};

inline Bridge &TheBridge() {
    static Bridge *bridge = new Bridge; // lives to the process's end, as the bridge does
    return *bridge;
}

// Runs the I/O loop until `done` is set (an answer may come from a
// session's apartment) or two seconds have passed.
inline void RunUntil(Bridge &b, const std::shared_ptr<bool> &done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!*done && std::chrono::steady_clock::now() < deadline) {
        b.io.restart();
        b.io.run_for(std::chrono::milliseconds(1));
    }
}

// Ends every session the input opened and runs what that leaves to do.
inline void Settle(Bridge &b) {
    b.sessions.CloseAll(2);
    b.io.restart();
    b.io.poll();
}

} // namespace fuzz_bridge
