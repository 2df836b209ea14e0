// The bridge's request path on arbitrary bytes, in process: the bytes are
// read as an HTTP request by the parser a connection uses, with its limits;
// a whole request goes through the gate and the router and, as a protocol
// message, to a session's call, whose reply is awaited. The sessions an
// input opened are closed after it, so every input meets the same bridge.
#include <boost/asio/io_context.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "BridgeOptions.h"
#include "FuzzState.h"
#include "OriginPolicy.h"
#include "Router.h"
#include "SessionTable.h"

namespace {

namespace http = boost::beast::http;

// The port the seeds' Host headers name, and the token their
// Authorization headers carry.
constexpr unsigned short kPort = 18412;
const char kToken[] = "0123456789abcdef0123456789abcdef";

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

Bridge &TheBridge() {
    static Bridge *bridge = new Bridge; // lives to the process's end, as the bridge does
    return *bridge;
}

// Reads the bytes as one request; false unless a whole one was read.
bool ReadRequest(const uint8_t *data, size_t size, size_t limit, bridge::Request &request) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(limit);
    boost::beast::error_code ec;
    size_t offset = 0;
    while (!parser.is_done() && offset < size) {
        const size_t used = parser.put(boost::asio::buffer(data + offset, size - offset), ec);
        if (ec == http::error::need_more)
            break;
        if (ec || used == 0)
            return false;
        offset += used;
    }
    if (!parser.is_done()) {
        parser.put_eof(ec);
        if (ec || !parser.is_done())
            return false;
    }
    request = parser.release();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_state::UseStateOfTheRun("bridge");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Bridge &b = TheBridge();
    bridge::Request request;
    if (!ReadRequest(data, size, b.options.maxRequest, request))
        return 0;
    // The answer may come from a session's apartment after the wait: the
    // flag outlives this call.
    auto answered = std::make_shared<bool>(false);
    b.router.Handle(std::move(request), [answered](bridge::Response response) {
        *answered = !response.body().empty() || response.result_int() > 0;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!*answered && std::chrono::steady_clock::now() < deadline) {
        b.io.restart();
        b.io.run_for(std::chrono::milliseconds(1));
    }
    b.sessions.CloseAll(2);
    b.io.restart();
    b.io.poll();
    return 0;
}
