// One HTTP connection to the bridge, on the I/O thread: requests are read
// one at a time (headers first, so an oversized one is refused before its
// body is taken), answered by the router, and a WebSocket upgrade hands the
// connection over to a WebSocketConnection.
#pragma once

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <optional>

#include "BridgeOptions.h"
#include "ConnectionTable.h"
#include "Router.h"
#include "SessionTable.h"

namespace bridge {

// What a connection needs of the bridge.
struct ConnectionContext {
    const BridgeOptions &options;
    Router &router;
    SessionTable &sessions;
};

class HttpConnection : public Connection, public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(boost::asio::ip::tcp::socket socket, ConnectionContext context,
                   ConnectionTicket ticket);
    void Start();
    void Drop() override;
    void Shutdown() override;

private:
    void ReadHeader();
    void OnHeader(boost::beast::error_code ec);
    void OnRequest(boost::beast::error_code ec);
    void Upgrade(Request request);
    void Send(Response response);
    void RefuseTooLarge();
    void Drain();

    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    ConnectionContext m_context;
    ConnectionTicket m_ticket;
    bool m_answered = false; // a request of the connection has had its answer
    bool m_readingHeader = false;
    bool m_shuttingDown = false;       // the bridge stops: no request after this one
    std::array<char, 16384> m_discard; // an oversized body, read and dropped
};

} // namespace bridge
