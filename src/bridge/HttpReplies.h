// The HTTP side of the gate and of the replies: the loopback Host check, the
// local token, and responses with the CORS headers an allowed origin gets.
#pragma once

#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace bridge {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// What a response needs of its request: the HTTP version, whether the
// connection stays open, and the origin that may read it (none: empty).
struct ReplyTo {
    unsigned version = 11;
    bool keepAlive = true;
    std::string allowOrigin;
};
ReplyTo ReplyToOf(const Request &request, std::string allowOrigin);

std::string HeaderOf(const Request &request, std::string_view name);

// Whether the Host header names this bridge on loopback ("127.0.0.1:P",
// "[::1]:P" or "localhost:P"): a page on a rebound DNS name is refused.
bool HostIsLoopback(std::string_view host, unsigned short port);
// Whether "Authorization: Bearer <token>" carries the bridge's token.
bool TokenMatches(std::string_view authorization, const std::string &token);

// A JSON reply, its status from the reply (HttpStatusOf).
Response JsonResponse(const ReplyTo &to, const nlohmann::json &reply);
Response TextResponse(const ReplyTo &to, int status, std::string_view body,
                      const char *contentType);
// The answer to a CORS preflight: the methods and headers the bridge takes,
// and Access-Control-Allow-Private-Network for browsers that ask it.
Response PreflightResponse(const Request &request, bool allowed);

} // namespace bridge
