#include "StatusCommand.h"

#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <optional>

#include "BridgeFiles.h"
#include "BridgeProtocol.h"
#include "platform/kernel/SocketOwner.h"

namespace bridge {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

std::string ReadToken() {
    std::string token;
    if (FILE *file = fopen(TokenPath().c_str(), "re")) {
        char line[256];
        if (fgets(line, sizeof line, file))
            token = line;
        fclose(file);
    }
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r'))
        token.pop_back();
    return token;
}

// GET /status on the port, with this account's token; none when nothing
// answers within a few seconds.
std::optional<nlohmann::json> AskStatus(unsigned short port, std::string &failure) {
    asio::io_context io;
    beast::tcp_stream stream(io);
    http::request<http::empty_body> request{http::verb::get, "/status", 11};
    const std::string host = "127.0.0.1:" + std::to_string(port);
    request.set(http::field::host, host);
    request.set(http::field::connection, "close");
    const std::string token = ReadToken();
    if (!token.empty())
        request.set(http::field::authorization, "Bearer " + token);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    beast::error_code result;
    stream.expires_after(std::chrono::seconds(5));
    stream.async_connect(
        tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), [&](beast::error_code ec) {
            if (ec)
                return void(result = ec);
            http::async_write(stream, request, [&](beast::error_code ec, size_t) {
                if (ec)
                    return void(result = ec);
                http::async_read(stream, buffer, response,
                                 [&](beast::error_code ec, size_t) { result = ec; });
            });
        });
    io.run();
    if (result) {
        failure = result.message();
        return std::nullopt;
    }
    nlohmann::json reply = nlohmann::json::parse(response.body(), nullptr, false);
    if (!reply.is_object()) {
        failure = "the answer on " + host + " is not the bridge's";
        return std::nullopt;
    }
    return reply;
}

} // namespace

int ShowStatus(const BridgeOptions &options) {
    const std::string account = platform::AccountName(platform::OwnAccount());
    const std::string address = "127.0.0.1:" + std::to_string(options.port);
    std::string failure;
    const std::optional<nlohmann::json> reply = AskStatus(options.port, failure);
    if (!reply) {
        printf("nothing answers for %s on %s (%s): no dispatcher and no bridge\n", account.c_str(),
               address.c_str(), failure.c_str());
        return 1;
    }
    const std::string error = IsError(*reply) ? (*reply)["error"].value("code", "") : "";
    const std::string socket = AccountSocketPath(false);
    if (error == code::kNoBridge) {
        printf("the dispatcher answers on %s; account %s has no bridge%s%s\n", address.c_str(),
               account.c_str(), socket.empty() ? "" : " on ", socket.c_str());
        return 1;
    }
    if (error == code::kWrongUser) {
        printf("a bridge of another account listens on %s itself (no dispatcher): account %s's "
               "pages cannot reach a bridge of their own\n",
               address.c_str(), account.c_str());
        return 1;
    }
    if (error == code::kTokenRequired) {
        printf("account %s's bridge answers on %s, but its token file %s does not match\n",
               account.c_str(), address.c_str(), TokenPath().c_str());
        return 1;
    }
    if (!error.empty() || !reply->contains("serving")) {
        printf("something else answers on %s: %s\n", address.c_str(), Dump(*reply).c_str());
        return 1;
    }
    if (reply->value("serving", "") == "dispatched")
        printf("the dispatcher answers on %s and hands account %s's connections to its bridge on "
               "%s\n",
               address.c_str(), account.c_str(), socket.c_str());
    else
        printf("account %s's bridge listens on %s itself (no dispatcher) and refuses other "
               "accounts\n",
               account.c_str(), address.c_str());
    printf("sessions %d, objects %d, calls in flight %d\n", reply->value("sessions", 0),
           reply->value("objects", 0), reply->value("callsInFlight", 0));
    return 0;
}

} // namespace bridge
