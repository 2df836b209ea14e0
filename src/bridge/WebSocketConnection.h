// A page session on a WebSocket, on the I/O thread: the session opens when
// the handshake completes and ends when the socket closes. Requests are the
// protocol's messages with an "id"; replies carry the same "id"; events
// ({"event":"job",...}) arrive as they happen.
//
// What the bridge owes a page but has not written yet is bounded: while it
// exceeds kUnsentLimit the socket's messages are not read (the page's
// requests wait in the kernel), and a page that still has not read its
// replies after kUnsentPatience has its socket closed with 1008.
#pragma once

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "HttpConnection.h"

namespace bridge {

inline constexpr size_t kUnsentLimit = 4 << 20;
inline constexpr auto kUnsentPatience = std::chrono::seconds(5);

class WebSocketConnection : public Connection,
                            public std::enable_shared_from_this<WebSocketConnection> {
public:
    WebSocketConnection(boost::beast::tcp_stream stream, ConnectionContext context,
                        ConnectionTicket ticket, Router::Caller caller);
    void Accept(Request request);
    // A WebSocket has passed its first request: it is never dropped for
    // room, only closed when the bridge stops.
    void Drop() override {}
    void Shutdown() override;

private:
    void Open();
    void Read();
    void OnRead();
    void Send(std::string text);
    void WriteNext();
    void OnWritten();
    // Ends the session; with `closeSocket`, the socket too (with m_close),
    // once the replies still queued are written.
    void End(bool closeSocket = true);
    // The page has left too much unread for too long.
    void Overflow();
    void CutOffLater(std::chrono::seconds after);

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_socket;
    // A message's pieces as they come: a document's tens of megabytes are
    // never copied to grow a buffer, and each piece goes once read.
    boost::beast::multi_buffer m_buffer;
    ConnectionContext m_context;
    ConnectionTicket m_ticket;
    Router::Caller m_caller;
    std::shared_ptr<PageSession> m_session;
    std::deque<std::string> m_outbox;
    size_t m_unsent = 0;   // bytes in the outbox
    bool m_paused = false; // not reading until the outbox shrinks
    bool m_writing = false;
    bool m_ended = false;
    bool m_closing = false;
    bool m_closeSent = false; // the close frame is on its way
    boost::beast::websocket::close_reason m_close{boost::beast::websocket::close_code::normal};
    boost::asio::steady_timer m_patience; // runs while the outbox is over its limit
    bool m_waiting = false;
};

} // namespace bridge
