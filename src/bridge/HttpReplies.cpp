#include "HttpReplies.h"

#include <strings.h>

#include "BridgeProtocol.h"

namespace bridge {
namespace {

void CommonHeaders(Response &response, const ReplyTo &to) {
    response.set(http::field::server, std::string("quillbay-bridge/") + Version());
    response.set(http::field::cache_control, "no-store");
    if (!to.allowOrigin.empty()) {
        response.set(http::field::access_control_allow_origin, to.allowOrigin);
        response.set(http::field::vary, "Origin");
    }
    response.keep_alive(to.keepAlive);
}

} // namespace

ReplyTo ReplyToOf(const Request &request, std::string allowOrigin) {
    return {request.version(), request.keep_alive(), std::move(allowOrigin)};
}

std::string HeaderOf(const Request &request, std::string_view name) {
    auto it = request.find(boost::beast::string_view(name.data(), name.size()));
    return it == request.end() ? std::string() : std::string(it->value());
}

bool HostIsLoopback(std::string_view host, unsigned short port) {
    const std::string suffix = ":" + std::to_string(port);
    if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix)
        return false;
    std::string_view name = host.substr(0, host.size() - suffix.size());
    return name == "127.0.0.1" || name == "[::1]" ||
           (name.size() == 9 && strncasecmp(name.data(), "localhost", 9) == 0);
}

bool TokenMatches(std::string_view authorization, const std::string &token) {
    constexpr std::string_view kBearer = "Bearer ";
    if (token.empty() || authorization.size() != kBearer.size() + token.size() ||
        strncasecmp(authorization.data(), kBearer.data(), kBearer.size()) != 0)
        return false;
    // Compared in full whatever the first difference, so timing tells nothing.
    unsigned char difference = 0;
    for (size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(authorization[kBearer.size() + i] ^ token[i]);
    return difference == 0;
}

Response JsonResponse(const ReplyTo &to, const nlohmann::json &reply) {
    return TextResponse(to, HttpStatusOf(reply), Dump(reply), "application/json");
}

Response TextResponse(const ReplyTo &to, int status, std::string_view body,
                      const char *contentType) {
    Response response{static_cast<http::status>(status), to.version};
    CommonHeaders(response, to);
    response.set(http::field::content_type, contentType);
    response.body() = std::string(body);
    response.prepare_payload();
    return response;
}

Response PreflightResponse(const Request &request, bool allowed) {
    const std::string origin = HeaderOf(request, "Origin");
    ReplyTo to = ReplyToOf(request, allowed ? origin : std::string());
    Response response{allowed ? http::status::no_content : http::status::forbidden,
                      request.version()};
    CommonHeaders(response, to);
    if (allowed) {
        response.set(http::field::access_control_allow_methods, "GET, POST");
        response.set(http::field::access_control_allow_headers, "Content-Type, Authorization");
        response.set(http::field::access_control_max_age, "600");
        if (strcasecmp(HeaderOf(request, "Access-Control-Request-Private-Network").c_str(),
                       "true") == 0)
            response.set("Access-Control-Allow-Private-Network", "true");
    }
    response.prepare_payload();
    return response;
}

} // namespace bridge
