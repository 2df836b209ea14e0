// A page session on a WebSocket, on the I/O thread: the session opens when
// the handshake completes and ends when the socket closes. Requests are the
// protocol's messages with an "id"; replies carry the same "id"; events
// ({"event":"job",...}) arrive as they happen.
#pragma once

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <string>

#include "HttpConnection.h"

namespace bridge {

class WebSocketConnection : public std::enable_shared_from_this<WebSocketConnection> {
public:
    WebSocketConnection(boost::beast::tcp_stream stream, ConnectionContext context,
                        ConnectionTicket ticket, Router::Caller caller);
    void Accept(Request request);

private:
    void Open();
    void Read();
    void OnMessage(const std::string &text);
    void Send(std::string text);
    void WriteNext();
    // Ends the session; with `closeSocket`, the socket too, once the replies
    // still queued are written.
    void End(bool closeSocket = true);

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_socket;
    boost::beast::flat_buffer m_buffer;
    ConnectionContext m_context;
    ConnectionTicket m_ticket;
    Router::Caller m_caller;
    std::shared_ptr<PageSession> m_session;
    std::deque<std::string> m_outbox;
    bool m_writing = false;
    bool m_ended = false;
    bool m_closing = false;
    boost::beast::websocket::close_code m_closeCode = boost::beast::websocket::close_code::normal;
};

} // namespace bridge
