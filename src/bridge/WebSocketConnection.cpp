#include "WebSocketConnection.h"

#include <algorithm>

#include "BridgeProtocol.h"

namespace bridge {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// The handshake's reply is written within a few seconds, as the connection's
// first request came; pings after five idle minutes end the session of a
// page that went away without closing.
websocket::stream_base::timeout Timeouts() {
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = 5s;
    timeouts.idle_timeout = 300s;
    timeouts.keep_alive_pings = true;
    return timeouts;
}

} // namespace

WebSocketConnection::WebSocketConnection(beast::tcp_stream stream, ConnectionContext context,
                                         ConnectionTicket ticket, Router::Caller caller)
    : m_socket(std::move(stream)), m_context(context), m_ticket(std::move(ticket)),
      m_caller(std::move(caller)), m_patience(m_socket.get_executor()) {}

void WebSocketConnection::Accept(Request request) {
    m_ticket.Serves(weak_from_this());
    m_ticket.Enter(ConnectionTable::Phase::Busy);
    beast::get_lowest_layer(m_socket).expires_never();
    m_socket.set_option(Timeouts());
    m_socket.set_option(websocket::stream_base::decorator([](websocket::response_type &response) {
        response.set(http::field::server, std::string("quillbay-bridge/") + Version());
    }));
    // The size limit is kept by Read, which closes the socket with 1009 and
    // lets the close handshake take in the rest of the message (were the
    // stream to refuse it, its teardown would leave that unread and reset
    // the connection before the client saw why).
    m_socket.read_message_max(0);
    m_socket.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
        if (!ec)
            self->Open();
    });
}

void WebSocketConnection::Open() {
    m_session = m_context.sessions.Open(m_caller.owner, true);
    if (!m_session) {
        Send(Dump(Error(code::kLimit, "the bridge has " +
                                          std::to_string(m_context.options.maxSessions) +
                                          " sessions open")));
        m_ended = m_closing = true; // closed once the refusal is written
        return;
    }
    m_session->SetEventSink([weak = weak_from_this()](const json &event) {
        if (auto self = weak.lock())
            self->Send(Dump(event));
    });
    Send(Dump({{"event", "ready"}, {"version", Version()}, {"protocol", kProtocol}}));
    Read();
}

void WebSocketConnection::Shutdown() {
    if (!m_session && !m_ended) {
        // Still in its handshake: there is no session to close yet.
        beast::error_code ignored;
        beast::get_lowest_layer(m_socket).socket().close(ignored);
        return;
    }
    if (m_ended)
        return;
    m_close = {websocket::close_code::going_away, "the bridge is stopping"};
    End();
}

void WebSocketConnection::Read() {
    constexpr size_t kChunk = 16384;
    m_socket.async_read_some(m_buffer, kChunk,
                             [self = shared_from_this()](beast::error_code ec, size_t) {
                                 if (ec)
                                     return self->End(false); // closed or broken: nothing to say
                                 self->OnRead();
                             });
}

void WebSocketConnection::OnRead() {
    if (m_ended)
        return; // the session ended while the message came in: it is not read
    const size_t limit = std::max(m_context.options.maxRequest, m_context.options.maxDocument);
    if (m_buffer.size() > limit) {
        m_buffer.clear();
        m_close = {websocket::close_code::too_big,
                   "a message is larger than " + std::to_string(limit) + " bytes"};
        return End();
    }
    if (!m_socket.is_message_done())
        return Read();
    std::string text = beast::buffers_to_string(m_buffer.data());
    m_buffer.consume(m_buffer.size());
    if (m_buffer.capacity() > m_context.options.maxRequest)
        m_buffer.shrink_to_fit(); // a document's pieces are not kept for the next message
    auto reply = [weak = weak_from_this()](json answer) {
        if (auto self = weak.lock())
            self->Send(Dump(answer));
    };
    const bool goesOn =
        text.size() > m_context.options.maxRequest
            ? m_context.router.LargeMessage(std::move(text), m_session, reply)
            : m_context.router.SocketMessage(text, m_session, reply);
    if (!goesOn)
        return End();
    if (m_ended)
        return;
    // The next message waits while the page leaves too much unread.
    if (m_unsent > kUnsentLimit)
        m_paused = true;
    else
        Read();
}

void WebSocketConnection::Send(std::string text) {
    if (m_ended)
        return; // the session is over: what it still had queued goes, nothing more
    m_unsent += text.size();
    m_outbox.push_back(std::move(text));
    if (m_unsent > kUnsentLimit && !m_waiting) {
        m_waiting = true;
        m_patience.expires_after(kUnsentPatience);
        m_patience.async_wait([weak = weak_from_this()](const boost::system::error_code &ec) {
            auto self = weak.lock();
            if (!ec && self && self->m_waiting && self->m_unsent > kUnsentLimit)
                self->Overflow();
        });
    }
    if (!m_writing)
        WriteNext();
}

void WebSocketConnection::WriteNext() {
    if (m_outbox.empty()) {
        m_writing = false;
        if (m_ended && m_closing && !m_closeSent && m_socket.is_open()) {
            m_closeSent = true;
            m_socket.async_close(m_close, [self = shared_from_this()](beast::error_code) {});
        }
        return;
    }
    m_writing = true;
    m_socket.text(true);
    m_socket.async_write(boost::asio::buffer(m_outbox.front()),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             if (ec) {
                                 self->m_outbox.clear();
                                 self->m_unsent = 0;
                                 self->m_writing = false;
                                 return self->End(false);
                             }
                             self->OnWritten();
                         });
}

void WebSocketConnection::OnWritten() {
    m_unsent -= m_outbox.front().size();
    m_outbox.pop_front();
    if (m_unsent <= kUnsentLimit && m_waiting) {
        m_waiting = false;
        m_patience.cancel();
    }
    if (m_paused && m_unsent <= kUnsentLimit && !m_ended) {
        m_paused = false;
        Read();
    }
    WriteNext();
}

void WebSocketConnection::Overflow() {
    // What is not being written now is dropped; the close follows the
    // message on its way, and a page that reads that neither is cut off.
    while (m_outbox.size() > (m_writing ? 1u : 0u)) {
        m_unsent -= m_outbox.back().size();
        m_outbox.pop_back();
    }
    m_close = {websocket::close_code::policy_error, "the page left more than " +
                                                        std::to_string(kUnsentLimit >> 20) +
                                                        " MB of replies unread"};
    End();
    CutOffLater(30s);
}

void WebSocketConnection::CutOffLater(std::chrono::seconds after) {
    auto timer = std::make_shared<boost::asio::steady_timer>(m_socket.get_executor(), after);
    timer->async_wait([timer, weak = weak_from_this()](const boost::system::error_code &ec) {
        if (auto self = weak.lock(); self && !ec) {
            beast::error_code ignored;
            beast::get_lowest_layer(self->m_socket).socket().close(ignored);
        }
    });
}

void WebSocketConnection::End(bool closeSocket) {
    if (m_session) {
        m_context.sessions.Close(m_session->Token());
        m_session.reset();
    }
    m_ended = true;
    m_closing = closeSocket;
    if (m_waiting) {
        m_waiting = false;
        m_patience.cancel();
    }
    if (!m_writing)
        WriteNext(); // nothing left to write: close now
}

} // namespace bridge
