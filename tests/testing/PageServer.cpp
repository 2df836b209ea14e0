#include "testing/PageServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

namespace testing_support {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using asio::ip::tcp;

struct PageServer::Context {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    ssl::context tls{ssl::context::tls_server};
};

namespace {

// One kept-alive connection: a request, its answer, the next request; over
// a plain or a TLS stream.
template <class Stream>
class PageConnection : public std::enable_shared_from_this<PageConnection<Stream>> {
public:
    template <class... Args>
    PageConnection(PageServer &server, Args &&...args)
        : m_stream(std::forward<Args>(args)...), m_server(server) {}

    void Start() {
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            Read();
        } else {
            m_stream.async_handshake(ssl::stream_base::server,
                                     [self = this->shared_from_this()](beast::error_code ec) {
                                         if (!ec)
                                             self->Read();
                                     });
        }
    }

private:
    void Read() {
        m_request = {};
        http::async_read(m_stream, m_buffer, m_request,
                         [self = this->shared_from_this()](beast::error_code ec, size_t) {
                             if (!ec)
                                 self->Answer();
                         });
    }

    void Answer() {
        std::string target(m_request.target());
        PageServer::File file;
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(m_request.version());
        response->keep_alive(m_request.keep_alive());
        response->set(http::field::cache_control, "no-store");
        if (m_server.Find(target.substr(0, target.find('?')), file)) {
            response->result(http::status::ok);
            response->set(http::field::content_type, file.contentType);
            response->body() = file.body;
        } else {
            response->result(http::status::not_found);
        }
        response->prepare_payload();
        http::async_write(
            m_stream, *response,
            [self = this->shared_from_this(), response](beast::error_code ec, size_t) {
                if (!ec && response->keep_alive())
                    self->Read();
            });
    }

    Stream m_stream;
    beast::flat_buffer m_buffer;
    http::request<http::string_body> m_request;
    PageServer &m_server;
};

void AcceptNext(tcp::acceptor &acceptor, ssl::context *tls, PageServer &server) {
    acceptor.async_accept([&acceptor, tls, &server](beast::error_code ec, tcp::socket socket) {
        if (ec)
            return;
        if (tls)
            std::make_shared<PageConnection<beast::ssl_stream<beast::tcp_stream>>>(
                server, std::move(socket), *tls)
                ->Start();
        else
            std::make_shared<PageConnection<beast::tcp_stream>>(server, std::move(socket))->Start();
        AcceptNext(acceptor, tls, server);
    });
}

} // namespace

PageServer::PageServer() : m_context(std::make_unique<Context>()) {
    Listen();
}

PageServer::PageServer(const std::string &certificate, const std::string &key)
    : m_context(std::make_unique<Context>()), m_tls(true) {
    beast::error_code ec;
    m_context->tls.use_certificate_chain_file(certificate, ec);
    if (!ec)
        m_context->tls.use_private_key_file(key, ssl::context::pem, ec);
    if (!ec)
        Listen();
}

void PageServer::Listen() {
    beast::error_code ec;
    tcp::endpoint local(asio::ip::make_address("127.0.0.1"), 0);
    auto &acceptor = m_context->acceptor;
    if (acceptor.open(local.protocol(), ec) || acceptor.bind(local, ec) ||
        acceptor.listen(asio::socket_base::max_listen_connections, ec))
        return;
    m_port = acceptor.local_endpoint().port();
    AcceptNext(acceptor, m_tls ? &m_context->tls : nullptr, *this);
    m_thread = std::thread([this] { m_context->io.run(); });
}

PageServer::~PageServer() {
    m_context->io.stop();
    if (m_thread.joinable())
        m_thread.join();
}

void PageServer::Put(const std::string &path, const std::string &body,
                     const std::string &contentType) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_files[path] = File{body, contentType};
}

bool PageServer::Find(const std::string &path, File &file) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_files.find(path);
    if (it == m_files.end())
        return false;
    file = it->second;
    return true;
}

std::string PageServer::Url(const std::string &path, const std::string &host) const {
    return std::string(m_tls ? "https://" : "http://") + host + ":" + std::to_string(m_port) + path;
}

} // namespace testing_support
