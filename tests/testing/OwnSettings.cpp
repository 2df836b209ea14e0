#include "testing/OwnSettings.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "testing/TestSupport.h"

extern char **environ;

namespace testing_support {
namespace {

// The account's settings that reach a test's result: whole families by
// prefix (the locale's categories, CUPS' client settings, the XDG folders,
// PostgreSQL's connection defaults, fontconfig's files, GTK's themes and
// scales, the browsers', Python's and node's own), and single variables.
constexpr const char *kDroppedPrefixes[] = {"LC_",  "CUPS_", "XDG_",   "PG",   "FONTCONFIG_",
                                            "GTK_", "GDK_",  "PYTHON", "MOZ_", "NODE_"};
constexpr const char *kDropped[] = {
    // The object's own settings.
    "QUILLBAY_HOME", "QUILLBAY_MACHINE_HOME", "QUILLBAY_PRINT_DIR", "QUILLBAY_PRINTER",
    "QUILLBAY_UI", "QUILLBAY_UI_LOG", "QUILLBAY_UI_ANSWERS", "QUILLBAY_UI_TEXTS",
    "QUILLBAY_UI_TIMEOUT", "QUILLBAY_POLICY_ROOT", "QUILLBAY_ACP",
    // The default printer as CUPS' clients and lp read it, and IPP's port.
    "PRINTER", "LPDEST", "IPP_PORT",
    // The desktop: its display, session bus and settings.
    "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "DESKTOP_SESSION", "SESSION_MANAGER",
    // Proxies, which libcurl and the browsers follow.
    "http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
    "FTP_PROXY", "ALL_PROXY", "NO_PROXY",
    // The locale's languages (LANG is set below).
    "LANGUAGE", "LC_ALL",
    // ODBC's data source files.
    "ODBCINI", "ODBCSYSINI",
    // A service manager's hand-over: sockets, notices and the journal.
    "LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES", "NOTIFY_SOCKET", "JOURNAL_STREAM"};

bool Dropped(std::string_view name) {
    for (const char *prefix : kDroppedPrefixes) {
        if (name.substr(0, strlen(prefix)) == prefix)
            return true;
    }
    for (const char *dropped : kDropped) {
        if (name == dropped)
            return true;
    }
    return false;
}

} // namespace

std::string MakeRunRoot(const std::string &prefix) {
    std::string root = MakeTempDir(prefix);
    if (root.empty()) { // TMPDIR names no folder of the account's that takes one
        ScopedEnvironment tmp("TMPDIR", "/tmp");
        root = MakeTempDir(prefix);
    }
    return root;
}

bool UseOwnSettings(const std::string &root) {
    std::vector<std::string> names, chosen; // chosen: QUILLBAY_TEST_NAME=VALUE
    for (char **entry = environ; *entry; ++entry) {
        const std::string_view text = *entry;
        const std::string name(text.substr(0, text.find('=')));
        if (name.rfind("QUILLBAY_TEST_", 0) == 0)
            chosen.push_back("QUILLBAY_" + std::string(text.substr(14)));
        if (Dropped(name))
            names.push_back(name);
    }
    for (const std::string &name : names)
        unsetenv(name.c_str());
    const std::string home = root + "/user", runtime = root + "/runtime", tmp = root + "/tmp";
    if (!MakeFolder(home, 0700) || !MakeFolder(runtime, 0700) || !MakeFolder(tmp, 0700) ||
        !MakeFolder(root + "/cups-client", 0755))
        return false;
    const std::pair<const char *, std::string> own[] = {
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + "/.config"},
        {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_STATE_HOME", home + "/.local/state"},
        {"XDG_CACHE_HOME", home + "/.cache"},
        {"XDG_RUNTIME_DIR", runtime},
        {"TMPDIR", tmp},
        {"LANG", "C.UTF-8"},
        // CUPS' clients read no client.conf or lpoptions but these (none),
        // and ask a server nobody runs until a test starts its own.
        {"CUPS_SERVERROOT", root + "/cups-client"},
        {"CUPS_SERVER", root + "/cups-client/no-server.sock"},
        {"QUILLBAY_HOME", root + "/home"},
        {"QUILLBAY_MACHINE_HOME", root + "/machine"},
        {"QUILLBAY_PRINT_DIR", root + "/prints"},
        {"QUILLBAY_UI", "scripted"},
    };
    for (const auto &[name, value] : own)
        setenv(name, value.c_str(), 1);
    for (const std::string &entry : chosen) {
        const size_t equals = entry.find('=');
        setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    return true;
}

} // namespace testing_support
