// quillbay-bridge: lets pages in today's browsers create and call the print
// object, over loopback HTTP and WebSocket, with the user's consent.
//
//   quillbay-bridge [--port N] [--foreground] [--socket-only] [options]
//   quillbay-bridge --dispatch [--port N] [--runtime-root DIR]
//   quillbay-bridge --status [--port N]
//   quillbay-bridge --allow|--block|--forget ORIGIN | --list-origins [--machine]
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "BridgeFiles.h"
#include "BridgeLog.h"
#include "BridgeOptions.h"
#include "BridgeProtocol.h"
#include "BridgeServer.h"
#include "Dispatcher.h"
#include "OriginCommand.h"
#include "StatusCommand.h"
#include "ToolOptions.h"
#include "platform/kernel/SocketOwner.h"

using namespace bridge;

namespace {

const tool_options::ToolInfo kTool = {
    "quillbay-bridge",
    "usage: quillbay-bridge [--port N] [--foreground] [--socket-only] [options]\n"
    "       quillbay-bridge --dispatch [--port N] [--runtime-root DIR]\n"
    "       quillbay-bridge --status [--port N]\n"
    "       quillbay-bridge --allow|--block|--forget ORIGIN [--machine]\n"
    "       quillbay-bridge --list-origins [--machine]\n",
    "Lets web pages in today's browsers create and call the print object over\n"
    "loopback HTTP and WebSocket (http://127.0.0.1:18412/quillbay.js), protocol 1.\n"
    "\n"
    "  --port N             the port on 127.0.0.1 and [::1] (default 18412; 0: any)\n"
    "  --foreground         stay attached to the terminal, log to stderr\n"
    "  --socket-only        serve the connections the dispatcher hands over on\n"
    "                       $XDG_RUNTIME_DIR/quillbay/bridge.sock, not a port of its own\n"
    "  --dispatch           the machine's dispatcher: own the port, hand each\n"
    "                       connection to its account's bridge (no-bridge: 503)\n"
    "  --runtime-root DIR   with --dispatch: the accounts' bridges are at\n"
    "                       DIR/UID/quillbay/bridge.sock (default /run/user)\n"
    "  --status             say what answers on the port, and for whom\n"
    "  --idle-timeout S     end an HTTP session unused for S seconds (300)\n"
    "  --max-request BYTES  largest request or message (1048576)\n"
    "  --max-document BYTES largest WebSocket message carrying a document\n"
    "                       as base64 (50331648)\n"
    "  --max-sessions N     page sessions open at once (100)\n"
    "  --max-objects N      objects per session (32)\n"
    "  --max-calls N        calls in flight per session (16)\n"
    "  --max-connections N  connections open at once (512)\n"
    "  --allow ORIGIN       allow a web origin always (e.g. https://shop.example)\n"
    "  --block ORIGIN       block a web origin\n"
    "  --forget ORIGIN      ask again about a web origin\n"
    "  --list-origins       list the allowed and blocked origins\n"
    "  --machine            with the four above: the machine's list, for every account\n"
    "                       and in the browsers' managed policies (as root)\n"
    "  --help               print this help\n"
    "  --version            print the version\n"
    "\n"
    "Without --foreground the bridge detaches and logs to\n"
    "$QUILLBAY_HOME/bridge/bridge.log. Programs without an Origin header send\n"
    "\"Authorization: Bearer TOKEN\" with the token of $QUILLBAY_HOME/bridge/token.\n"
    "A bridge serves its own account only: the kernel says which account owns each\n"
    "connecting socket, and any other gets 403 wrong-user.\n"};

// Where the object's dialogs and the consent questions go: the desktop
// when there is a display, else nowhere (answered headless).
void ChooseUiHost() {
    if (getenv("QUILLBAY_UI"))
        return;
    const bool display = getenv("DISPLAY") || getenv("WAYLAND_DISPLAY");
    setenv("QUILLBAY_UI", display ? "desktop" : "headless", 1);
}

bool Detach(BridgeServer &server) {
    fflush(nullptr);
    server.PrepareFork();
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child > 0)
        _exit(0); // the terminal gets its prompt back; the child serves
    setsid();
    server.ForkedChild();
    int null = open("/dev/null", O_RDWR);
    int log = open(LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(log >= 0 ? log : null, STDERR_FILENO);
    (void)!chdir("/");
    return true;
}

int Serve(const BridgeOptions &options) {
    if (!TakeInstanceLock()) {
        printf("quillbay-bridge: already running for this user\n");
        return 0;
    }
    ChooseUiHost();
    const std::string token = RandomToken(32);
    if (!WriteTokenFile(token)) {
        Log(LogLevel::Error, "cannot write the token file " + TokenPath());
        return 1;
    }
    bool clean;
    {
        BridgeServer server(options, token);
        std::string error;
        if (!server.Listen(error)) {
            Log(LogLevel::Error, error);
            RemoveTokenFile();
            return 1;
        }
        if (!server.SocketPath().empty()) {
            printf("quillbay-bridge %s serving %s on %s for http://127.0.0.1:%u\n", Version(),
                   platform::AccountName(platform::OwnAccount()).c_str(),
                   server.SocketPath().c_str(), server.Port());
            Log(LogLevel::Info, "serving the connections handed over on " + server.SocketPath() +
                                    ", token in " + TokenPath());
        } else {
            printf("quillbay-bridge %s listening on http://127.0.0.1:%u\n", Version(),
                   server.Port());
            Log(LogLevel::Info,
                "listening on port " + std::to_string(server.Port()) + ", token in " + TokenPath());
        }
        fflush(stdout);
        if (!options.foreground && !Detach(server))
            Log(LogLevel::Warning, "cannot detach; serving in the foreground");
        clean = server.Run();
    }
    RemoveTokenFile();
    Log(LogLevel::Info, "stopped");
    if (!clean)
        _exit(0); // a call still stuck in a dialog: do not wait for it
    return 0;
}

int Dispatch(const BridgeOptions &options) {
    Dispatcher dispatcher(options);
    std::string error;
    if (!dispatcher.Listen(error)) {
        Log(LogLevel::Error, error);
        return 1;
    }
    printf("quillbay-bridge %s dispatching http://127.0.0.1:%u to %s/UID/quillbay/bridge.sock\n",
           Version(), dispatcher.Port(), options.runtimeRoot.c_str());
    fflush(stdout);
    Log(LogLevel::Info, "dispatching port " + std::to_string(dispatcher.Port()) + " to " +
                            options.runtimeRoot + "/UID/quillbay/bridge.sock");
    dispatcher.Run();
    Log(LogLevel::Info, "stopped");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    // A document's megabytes are mapped for it alone and given back when it
    // is done: the allocator would otherwise raise this threshold after the
    // first large document and keep the next ones in its heap.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    BridgeOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "quillbay-bridge: %s\n", error.c_str());
        return tool_options::Usage(kTool);
    }
    switch (options.action) {
    case BridgeOptions::Action::Serve:
        return Serve(options);
    case BridgeOptions::Action::Dispatch:
        return Dispatch(options);
    case BridgeOptions::Action::Status:
        return ShowStatus(options);
    default:
        return ManageOrigins(options);
    }
}
