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
    m_socket.read_message_max(m_context.options.maxRequest);
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
        m_ended = true; // closed once the refusal is written
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
    m_socket.async_read(m_buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) {
            // A message over the size limit closes the socket with code 1009.
            return self->End();
        }
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
        if (m_ended && m_socket.is_open())
            m_socket.async_close(websocket::close_code::normal,
                                 [self = shared_from_this()](beast::error_code) {});
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
                                 return self->End();
                             }
                             self->WriteNext();
                         });
}

void WebSocketConnection::End() {
    if (m_session) {
        m_context.sessions.Close(m_session->Token());
        m_session.reset();
    }
    m_ended = true;
    if (!m_writing)
        WriteNext(); // nothing left to write: close now
}

} // namespace bridge
