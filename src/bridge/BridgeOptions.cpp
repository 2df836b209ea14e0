#include "BridgeOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace bridge {
namespace {

bool ReadNumber(const char *text, long low, long high, long &value) {
    char *end = nullptr;
    errno = 0;
    value = strtol(text, &end, 10);
    return errno == 0 && end != text && *end == 0 && value >= low && value <= high;
}

// The options that take a number: the name, its bounds and where it goes.
struct Numeric {
    const char *name;
    long low, high;
    void (*set)(BridgeOptions &, long);
};

constexpr Numeric kNumerics[] = {
    {"--port", 0, 65535, [](BridgeOptions &o, long v) { o.port = static_cast<unsigned short>(v); }},
    {"--idle-timeout", 1, 86400,
     [](BridgeOptions &o, long v) { o.idleSeconds = static_cast<int>(v); }},
    {"--max-request", 1024, 1L << 30,
     [](BridgeOptions &o, long v) { o.maxRequest = static_cast<size_t>(v); }},
    {"--max-document", 1024, 1L << 31,
     [](BridgeOptions &o, long v) { o.maxDocument = static_cast<size_t>(v); }},
    {"--max-sessions", 1, 100000,
     [](BridgeOptions &o, long v) { o.maxSessions = static_cast<size_t>(v); }},
    {"--max-objects", 1, 100000,
     [](BridgeOptions &o, long v) { o.maxObjects = static_cast<size_t>(v); }},
    {"--max-calls", 1, 100000,
     [](BridgeOptions &o, long v) { o.maxCallsInFlight = static_cast<size_t>(v); }},
    {"--max-connections", 8, 100000,
     [](BridgeOptions &o, long v) { o.maxConnections = static_cast<size_t>(v); }},
};

const Numeric *FindNumeric(const std::string &name) {
    for (const Numeric &n : kNumerics) {
        if (name == n.name)
            return &n;
    }
    return nullptr;
}

} // namespace

bool ParseOptions(int argc, char **argv, BridgeOptions &options, std::string &error) {
    using Action = BridgeOptions::Action;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--foreground") {
            options.foreground = true;
        } else if (arg == "--machine") {
            options.machine = true;
        } else if (arg == "--socket-only") {
            options.socketOnly = true;
        } else if (arg == "--dispatch") {
            options.action = Action::Dispatch;
        } else if (arg == "--status") {
            options.action = Action::Status;
        } else if (arg == "--runtime-root") {
            if (i + 1 >= argc || argv[i + 1][0] != '/')
                return error = "--runtime-root needs an absolute folder", false;
            options.runtimeRoot = argv[++i];
        } else if (arg == "--list-origins") {
            options.action = Action::ListOrigins;
        } else if (arg == "--allow" || arg == "--block" || arg == "--forget") {
            if (i + 1 >= argc)
                return error = arg + " needs an origin", false;
            options.origin = argv[++i];
            options.action = arg == "--allow"   ? Action::Allow
                             : arg == "--block" ? Action::Block
                                                : Action::Forget;
        } else if (const Numeric *numeric = FindNumeric(arg)) {
            long value = 0;
            if (i + 1 >= argc || !ReadNumber(argv[i + 1], numeric->low, numeric->high, value))
                return error = arg + " needs a number from " + std::to_string(numeric->low) +
                               " to " + std::to_string(numeric->high),
                       false;
            numeric->set(options, value);
            ++i;
        } else {
            return error = "unknown option " + arg, false;
        }
    }
    if (options.machine && (options.action == Action::Serve || options.action == Action::Dispatch ||
                            options.action == Action::Status))
        return error = "--machine goes with --allow, --block, --forget or --list-origins", false;
    if (options.socketOnly && options.action != Action::Serve)
        return error = "--socket-only goes with serving, not with another action", false;
    if (options.socketOnly && options.port == 0)
        return error = "--socket-only needs the dispatcher's port, not 0", false;
    return true;
}

} // namespace bridge
