// The bridge's WebSocket message path on arbitrary messages, in process:
// each message is read as the protocol's JSON and carried out in a socket
// session, as a WebSocket connection hands its messages on, and its reply
// is awaited. The session is opened afresh for each message.
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "BridgeOptions.h"
#include "BridgeProtocol.h"
#include "FuzzState.h"
#include "PageSession.h"
#include "SessionTable.h"

namespace {

struct Bridge {
    Bridge() : sessions(io, options) {}
    boost::asio::io_context io;
    bridge::BridgeOptions options;
    bridge::SessionTable sessions;
};

Bridge &TheBridge() {
    static Bridge *bridge = new Bridge; // lives to the process's end, as the bridge does
    return *bridge;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("websocket");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Bridge &b = TheBridge();
    if (size > b.options.maxRequest)
        return 0;
    nlohmann::json message;
    std::string error;
    if (!bridge::ParseMessage(std::string_view(reinterpret_cast<const char *>(data), size), message,
                              error) ||
        message.value("op", "") == "close")
        return 0;
    std::shared_ptr<bridge::PageSession> session = b.sessions.Open("local", true);
    if (!session)
        return 0;
    auto answered = std::make_shared<bool>(false);
    session->Submit(std::move(message), [answered](nlohmann::json answer) {
        *answered = true;
        (void)bridge::Dump(answer);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!*answered && std::chrono::steady_clock::now() < deadline) {
        b.io.restart();
        b.io.run_for(std::chrono::milliseconds(1));
    }
    b.sessions.Close(session->Token());
    b.sessions.CloseAll(2);
    b.io.restart();
    b.io.poll();
    return 0;
}
