// The bridge's WebSocket message path on arbitrary messages, in process:
// each message goes through the router to a socket session, as a WebSocket
// connection hands its messages on, and its reply is awaited. The session
// is opened afresh for each message. Messages of an odd length take the
// way of a message over the request limit (a document's base64 decoded out
// of its text first).
#include <cstdint>
#include <memory>

#include "BridgeProtocol.h"
#include "FuzzBridge.h"
#include "FuzzState.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("websocket");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_bridge::Bridge &b = fuzz_bridge::TheBridge();
    if (size > b.options.maxRequest)
        return 0;
    std::shared_ptr<bridge::PageSession> session = b.sessions.Open("local", true);
    if (!session)
        return 0;
    auto answered = std::make_shared<bool>(false);
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    auto reply = [answered](nlohmann::json answer) {
        *answered = true;
        (void)bridge::Dump(answer);
    };
    if (size % 2 ? b.router.LargeMessage(std::string(text), session, reply)
                 : b.router.SocketMessage(text, session, reply))
        fuzz_bridge::RunUntil(b, answered);
    fuzz_bridge::Settle(b);
    return 0;
}
