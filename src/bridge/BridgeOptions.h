// The bridge's command line.
#pragma once

#include <cstddef>
#include <string>

namespace bridge {

// The port pages reach the bridge on, unless --port says otherwise.
inline constexpr unsigned short kDefaultPort = 18412;

// Where each account's runtime directory lives ($XDG_RUNTIME_DIR is
// ROOT/UID), as the dispatcher finds the accounts' bridges.
inline constexpr const char *kRuntimeRoot = "/run/user";

struct BridgeOptions {
    enum class Action { Serve, Allow, Block, Forget, ListOrigins, Dispatch, Status };
    Action action = Action::Serve;
    std::string origin;   // Allow, Block, Forget
    bool machine = false; // the origin actions on the machine's list (--machine)

    unsigned short port = kDefaultPort; // 0: any free port
    // Serve on the account's local socket alone, for the dispatcher; the
    // port is then the dispatcher's, the one pages name in Host.
    bool socketOnly = false;
    std::string runtimeRoot = kRuntimeRoot; // the dispatcher's: ROOT/UID/quillbay/bridge.sock
    bool foreground = false;
    int idleSeconds = 300;           // an HTTP session without calls ends after this
    size_t maxRequest = 1024 * 1024; // bytes of one request or message
    // Bytes of a WebSocket message that carries a document (its base64):
    // a document of 36 MiB.
    size_t maxDocument = 48 << 20;
    size_t maxSessions = 100;        // open at once
    size_t maxObjects = 32;          // per session
    size_t maxCallsInFlight = 16;    // per session
    size_t maxConnections = 512;     // open at once
};

// False with `error` set when the command line is wrong (--help and
// --version are answered before, as every tool answers them).
bool ParseOptions(int argc, char **argv, BridgeOptions &options, std::string &error);

} // namespace bridge
