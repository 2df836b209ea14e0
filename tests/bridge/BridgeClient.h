// A client of the bridge's protocol for the tests: single HTTP requests with
// any headers, and sessions on a WebSocket, as a local program would speak.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace bridge_test {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpReply {
    int status = 0;                             // 0: no answer
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    nlohmann::json Json() const { return nlohmann::json::parse(body, nullptr, false); }
    std::string Header(const std::string &lowerName) const;
    std::string ErrorCode() const;
};

// One request on a connection of its own to `address` (127.0.0.1 unless
// given). The Host header is the bridge's own unless `headers` carry one.
HttpReply SendHttp(unsigned short port, boost::beast::http::verb method, const std::string &target,
                   const std::string &body = "", const Headers &headers = {},
                   const std::string &address = "127.0.0.1");
// Bytes as base64 text (RFC 4648, section 4), as a page sends a document.
std::string Base64Text(const std::string &bytes);

// A POST of a JSON message with the bridge's token.
HttpReply PostJson(unsigned short port, const std::string &target, const nlohmann::json &message,
                   const std::string &token);

class BridgeSocket {
public:
    BridgeSocket(unsigned short port, const Headers &headers);
    ~BridgeSocket();

    bool Open() const { return m_open; }
    // The bridge's first message ({"event":"ready",...} or an error).
    const nlohmann::json &Greeting() const { return m_greeting; }
    // Sends a request with a fresh "id" and waits for its reply; events that
    // arrive meanwhile are kept. {"closed": code} when the socket closed.
    nlohmann::json Request(nlohmann::json request);
    // A call of a member with its arguments: the reply's "value", or the
    // reply itself when it is an error.
    nlohmann::json Call(int object, const std::string &member, const nlohmann::json &args);
    void SendText(const std::string &text);
    nlohmann::json Next();
    const std::vector<nlohmann::json> &Events() const { return m_events; }
    // Each request's round trip so far, in microseconds.
    const std::vector<double> &RoundTrips() const { return m_roundTrips; }
    // Bytes the bridge has sent that were not read yet.
    size_t Available();
    void Close();

private:
    boost::asio::io_context m_io;
    boost::beast::websocket::stream<boost::beast::tcp_stream> m_socket;
    bool m_open = false;
    int m_nextId = 1;
    nlohmann::json m_greeting;
    std::vector<nlohmann::json> m_events;
    std::vector<double> m_roundTrips;
};

// The token header local programs send.
Headers TokenHeader(const std::string &token);

// The label of label.js, call by call over the protocol, in a new object
// of the socket's session; the PDF's path from the job's "finished" event,
// or empty with `error` set.
std::string PrintLabel(BridgeSocket &socket, int number, std::string &error);

} // namespace bridge_test
