#include "HttpConnection.h"

#include <boost/beast/websocket.hpp>

#include "BridgeProtocol.h"
#include "WebSocketConnection.h"

namespace bridge {

namespace beast = boost::beast;
using namespace std::chrono_literals;

namespace {

// A connection's first request comes within a few seconds: one that sends
// nothing holds no place for long. Between requests it may wait a minute.
constexpr auto kFirstRequest = 5s;
constexpr auto kNextRequest = 60s;

} // namespace

HttpConnection::HttpConnection(boost::asio::ip::tcp::socket socket, ConnectionContext context,
                               ConnectionTicket ticket)
    : m_stream(std::move(socket)), m_context(context), m_ticket(std::move(ticket)) {}

void HttpConnection::Start() {
    m_ticket.Serves(weak_from_this());
    ReadHeader();
}

void HttpConnection::Drop() {
    beast::error_code ignored;
    m_stream.socket().close(ignored);
}

void HttpConnection::Shutdown() {
    m_shuttingDown = true;
    if (m_readingHeader)
        Drop(); // waiting for a request that would only be refused
}

void HttpConnection::ReadHeader() {
    m_parser.emplace();
    m_parser->header_limit(16 * 1024);
    m_parser->body_limit(m_context.options.maxRequest);
    m_stream.expires_after(m_answered ? kNextRequest : kFirstRequest);
    m_ticket.Enter(m_answered ? ConnectionTable::Phase::Waiting
                              : ConnectionTable::Phase::FirstRequest);
    m_readingHeader = true;
    http::async_read_header(
        m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHeader(ec); });
}

void HttpConnection::OnHeader(beast::error_code ec) {
    m_readingHeader = false;
    if (m_answered)
        m_ticket.Enter(ConnectionTable::Phase::Busy);
    if (ec == http::error::body_limit)
        return RefuseTooLarge();
    if (ec)
        return; // closed, timed out or not HTTP: the connection ends
    auto length = m_parser->content_length();
    if (length && *length > m_context.options.maxRequest)
        return RefuseTooLarge();
    m_stream.expires_after(30s);
    http::async_read(
        m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRequest(ec); });
}

void HttpConnection::OnRequest(beast::error_code ec) {
    if (ec == http::error::body_limit)
        return RefuseTooLarge();
    if (ec)
        return;
    m_ticket.Enter(ConnectionTable::Phase::Busy);
    // A call may wait for its apartment or for the user's consent.
    m_stream.expires_never();
    Request request = m_parser->release();
    if (beast::websocket::is_upgrade(request))
        return Upgrade(std::move(request));
    m_context.router.Handle(std::move(request), [self = shared_from_this()](Response response) {
        self->Send(std::move(response));
    });
}

void HttpConnection::Upgrade(Request request) {
    auto shared = std::make_shared<Request>(std::move(request));
    auto self = shared_from_this();
    auto refused = [self](Response response) { self->Send(std::move(response)); };
    if (shared->target() != "/session") {
        ReplyTo to = ReplyToOf(*shared, "");
        return refused(
            JsonResponse(to, Error(code::kNotFound, "WebSocket sessions are at /session")));
    }
    m_context.router.Admit(
        *shared,
        [self, shared](const Router::Caller &caller) {
            auto socket = std::make_shared<WebSocketConnection>(
                std::move(self->m_stream), self->m_context, std::move(self->m_ticket), caller);
            socket->Accept(std::move(*shared));
        },
        refused);
}

void HttpConnection::Send(Response response) {
    m_answered = true;
    if (m_shuttingDown)
        response.keep_alive(false);
    auto shared = std::make_shared<Response>(std::move(response));
    m_stream.expires_after(30s);
    http::async_write(m_stream, *shared,
                      [self = shared_from_this(), shared](beast::error_code ec, size_t) {
                          if (ec)
                              return;
                          if (!shared->keep_alive()) {
                              beast::error_code ignored;
                              self->m_stream.socket().shutdown(
                                  boost::asio::ip::tcp::socket::shutdown_send, ignored);
                              return;
                          }
                          self->ReadHeader();
                      });
}

void HttpConnection::RefuseTooLarge() {
    const Request &header = m_parser->get();
    ReplyTo to = ReplyToOf(header, HeaderOf(header, "Origin"));
    to.keepAlive = false;
    Response response = JsonResponse(
        to, Error(code::kTooLarge, "the request is larger than " +
                                       std::to_string(m_context.options.maxRequest) + " bytes"));
    auto shared = std::make_shared<Response>(std::move(response));
    m_stream.expires_after(10s);
    http::async_write(
        m_stream, *shared, [self = shared_from_this(), shared](beast::error_code ec, size_t) {
            if (ec)
                return;
            // The rest of the body is read and dropped until the
            // client stops, so it sees the answer, not a reset.
            beast::error_code ignored;
            self->m_stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
            self->Drain();
        });
}

void HttpConnection::Drain() {
    m_stream.async_read_some(boost::asio::buffer(m_discard),
                             [self = shared_from_this()](beast::error_code ec, size_t) {
                                 if (!ec)
                                     self->Drain();
                             });
}

} // namespace bridge
