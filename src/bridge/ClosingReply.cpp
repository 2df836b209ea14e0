#include "ClosingReply.h"

#include <array>
#include <atomic>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <memory>
#include <sstream>

#include "BridgeProtocol.h"
#include "HttpReplies.h"

namespace bridge {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

std::atomic<int> s_underway{0};

class ClosingReply : public std::enable_shared_from_this<ClosingReply> {
public:
    ClosingReply(tcp::socket socket, std::string bytes)
        : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_bytes(std::move(bytes)) {
        ++s_underway;
    }
    ~ClosingReply() { --s_underway; }

    void Start() {
        m_timer.expires_after(std::chrono::seconds(5));
        m_timer.async_wait([self = shared_from_this()](const boost::system::error_code &ec) {
            if (!ec) {
                boost::system::error_code ignored;
                self->m_socket.close(ignored);
            }
        });
        asio::async_write(m_socket, asio::buffer(m_bytes),
                          [self = shared_from_this()](const boost::system::error_code &ec, size_t) {
                              if (ec)
                                  return self->End();
                              boost::system::error_code ignored;
                              self->m_socket.shutdown(tcp::socket::shutdown_send, ignored);
                              self->Drain();
                          });
    }

private:
    void Drain() {
        m_socket.async_read_some(
            asio::buffer(m_discard),
            [self = shared_from_this()](const boost::system::error_code &ec, size_t) {
                ec ? self->End() : self->Drain();
            });
    }
    void End() {
        m_timer.cancel();
        boost::system::error_code ignored;
        m_socket.close(ignored);
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    std::string m_bytes;
    std::array<char, 4096> m_discard;
};

std::string Serialized(const nlohmann::json &reply, int status) {
    ReplyTo to;
    to.keepAlive = false;
    Response response = JsonResponse(to, reply);
    if (status)
        response.result(static_cast<unsigned>(status));
    response.prepare_payload();
    std::ostringstream text;
    text << response;
    return text.str();
}

} // namespace

void SendClosingReply(tcp::socket socket, const nlohmann::json &reply, int status) {
    if (s_underway >= kClosingReplies)
        return; // the socket closes as it goes out of scope
    std::make_shared<ClosingReply>(std::move(socket), Serialized(reply, status))->Start();
}

} // namespace bridge
