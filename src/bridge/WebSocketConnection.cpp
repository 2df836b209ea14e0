#include "WebSocketConnection.h"

#include "BridgeProtocol.h"

namespace bridge {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using nlohmann::json;

WebSocketConnection::WebSocketConnection(beast::tcp_stream stream, ConnectionContext context,
                                         ConnectionTicket ticket, Router::Caller caller)
    : m_socket(std::move(stream)), m_context(context), m_ticket(std::move(ticket)),
      m_caller(std::move(caller)) {}

void WebSocketConnection::Accept(Request request) {
    beast::get_lowest_layer(m_socket).expires_never();
    // Pings after five idle minutes: a page that went away without closing
    // ends its session then.
    m_socket.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
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

void WebSocketConnection::Read() {
    constexpr size_t kChunk = 16384;
    m_socket.async_read_some(
        m_buffer, kChunk, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec)
                return self->End(false); // closed or broken: nothing more to say on it
            if (self->m_buffer.size() > self->m_context.options.maxRequest) {
                self->m_buffer.clear();
                self->m_closeCode = websocket::close_code::too_big;
                return self->End();
            }
            if (!self->m_socket.is_message_done())
                return self->Read();
            std::string text = beast::buffers_to_string(self->m_buffer.data());
            self->m_buffer.consume(self->m_buffer.size());
            self->OnMessage(text);
            if (!self->m_ended)
                self->Read();
        });
}

void WebSocketConnection::OnMessage(const std::string &text) {
    json message;
    std::string error;
    if (!ParseMessage(text, message, error))
        return Send(Dump(Error(code::kBadRequest, error)));
    json id = message.contains("id") ? message["id"] : json();
    if (message.value("op", "") == "close")
        return End();
    m_session->Submit(std::move(message), [weak = weak_from_this(), id](json answer) {
        answer["id"] = id;
        if (auto self = weak.lock())
            self->Send(Dump(answer));
    });
}

void WebSocketConnection::Send(std::string text) {
    m_outbox.push_back(std::move(text));
    if (!m_writing)
        WriteNext();
}

void WebSocketConnection::WriteNext() {
    if (m_outbox.empty()) {
        m_writing = false;
        if (m_ended && m_closing && m_socket.is_open())
            m_socket.async_close(m_closeCode, [self = shared_from_this()](beast::error_code) {});
        return;
    }
    m_writing = true;
    m_socket.text(true);
    m_socket.async_write(boost::asio::buffer(m_outbox.front()),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             self->m_outbox.pop_front();
                             if (ec) {
                                 self->m_outbox.clear();
                                 self->m_writing = false;
                                 return self->End(false);
                             }
                             self->WriteNext();
                         });
}

void WebSocketConnection::End(bool closeSocket) {
    if (m_session) {
        m_context.sessions.Close(m_session->Token());
        m_session.reset();
    }
    m_ended = true;
    m_closing = closeSocket;
    if (!m_writing)
        WriteNext(); // nothing left to write: close now
}

} // namespace bridge
