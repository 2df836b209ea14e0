// The bridge's request path on sequences of the protocol's messages, in
// process, as its connections hand them over. An input is a first byte
// that says how its messages arrive, then the messages, one a line:
//
//   'w'  messages of one WebSocket session, through the router's message
//        path (a "create" early on gives the later calls their object);
//   'h'  bodies of POST /call with the token, through the gate and the
//        router as an HTTP connection hands its requests on; SESSION in a
//        body stands for the token of an HTTP session opened for the input.
//
// Each message's answer is awaited before the next is sent; every message
// must be answered without taking the bridge down.
#include <boost/beast/http.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BridgeProtocol.h"
#include "FuzzBridge.h"
#include "FuzzState.h"

namespace {

namespace http = boost::beast::http;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

void OverSocket(fuzz_bridge::Bridge &b, const std::vector<std::string_view> &messages) {
    std::shared_ptr<bridge::PageSession> session = b.sessions.Open("local", true);
    if (!session)
        return;
    for (std::string_view message : messages) {
        auto answered = std::make_shared<bool>(false);
        const bool goesOn = b.router.SocketMessage(message, session, [answered](nlohmann::json a) {
            *answered = true;
            (void)bridge::Dump(a);
        });
        if (!goesOn)
            return;
        fuzz_bridge::RunUntil(b, answered);
    }
}

bridge::Request Post(const std::string &body) {
    bridge::Request request{http::verb::post, "/call", 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(fuzz_bridge::kPort));
    request.set(http::field::authorization, std::string("Bearer ") + fuzz_bridge::kToken);
    request.body() = body;
    request.prepare_payload();
    return request;
}

void OverHttp(fuzz_bridge::Bridge &b, const std::vector<std::string_view> &bodies) {
    std::shared_ptr<bridge::PageSession> session = b.sessions.Open("local", false);
    if (!session)
        return;
    for (std::string_view line : bodies) {
        std::string body(line);
        for (size_t at; (at = body.find("SESSION")) != std::string::npos;)
            body.replace(at, 7, session->Token());
        auto answered = std::make_shared<bool>(false);
        b.router.Handle(Post(body), [answered](bridge::Response) { *answered = true; });
        fuzz_bridge::RunUntil(b, answered);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("requests");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_bridge::Bridge &b = fuzz_bridge::TheBridge();
    if (size < 1 || size > b.options.maxRequest)
        return 0;
    const std::vector<std::string_view> messages =
        Lines(std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1));
    if (data[0] == 'w')
        OverSocket(b, messages);
    else if (data[0] == 'h')
        OverHttp(b, messages);
    fuzz_bridge::Settle(b);
    return 0;
}
