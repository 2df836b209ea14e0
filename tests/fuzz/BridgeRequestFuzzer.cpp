// The bridge's request path on arbitrary bytes, in process: the bytes are
// read as an HTTP request by the parser a connection uses, with its limits;
// a whole request goes through the gate and the router and, as a protocol
// message, to a session's call, whose reply is awaited. The sessions an
// input opened are closed after it, so every input meets the same bridge.
#include <boost/beast/http.hpp>
#include <cstdint>
#include <memory>

#include "FuzzBridge.h"
#include "FuzzState.h"

namespace {

namespace http = boost::beast::http;

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
    fuzz_bridge::Bridge &b = fuzz_bridge::TheBridge();
    bridge::Request request;
    if (!ReadRequest(data, size, b.options.maxRequest, request))
        return 0;
    // The answer may come from a session's apartment after the wait: the
    // flag outlives this call.
    auto answered = std::make_shared<bool>(false);
    b.router.Handle(std::move(request), [answered](bridge::Response response) {
        *answered = !response.body().empty() || response.result_int() > 0;
    });
    fuzz_bridge::RunUntil(b, answered);
    fuzz_bridge::Settle(b);
    return 0;
}
