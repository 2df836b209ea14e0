#include "BridgeClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <algorithm>
#include <strings.h>

namespace bridge_test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using asio::ip::tcp;
using nlohmann::json;

namespace {

tcp::endpoint Loopback(unsigned short port, const std::string &address = "127.0.0.1") {
    return tcp::endpoint(asio::ip::make_address(address), port);
}

bool HasHeader(const Headers &headers, const char *name) {
    for (const auto &[key, value] : headers) {
        if (strcasecmp(key.c_str(), name) == 0)
            return true;
    }
    return false;
}

} // namespace

std::string HttpReply::Header(const std::string &lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

std::string HttpReply::ErrorCode() const {
    json body = Json();
    return body.is_object() && body.contains("error") ? body["error"].value("code", "") : "";
}

HttpReply SendHttp(unsigned short port, http::verb method, const std::string &target,
                   const std::string &body, const Headers &headers, const std::string &address) {
    HttpReply reply;
    asio::io_context io;
    beast::tcp_stream stream(io);
    beast::error_code ec;
    stream.expires_after(std::chrono::seconds(60));
    stream.connect(Loopback(port, address), ec);
    if (ec)
        return reply;
    http::request<http::string_body> request{method, target, 11};
    if (!HasHeader(headers, "Host"))
        request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    for (const auto &[name, value] : headers)
        request.set(name, value);
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request, ec);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response, ec);
    if (ec && response.result_int() == 0)
        return reply;
    reply.status = static_cast<int>(response.result_int());
    for (const auto &field : response) {
        std::string name(field.name_string());
        for (char &c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        reply.headers[name] = std::string(field.value());
    }
    reply.body = response.body();
    return reply;
}

HttpReply PostJson(unsigned short port, const std::string &target, const json &message,
                   const std::string &token) {
    return SendHttp(port, http::verb::post, target, message.dump(), TokenHeader(token));
}

Headers TokenHeader(const std::string &token) {
    return {{"Authorization", "Bearer " + token}};
}

BridgeSocket::BridgeSocket(unsigned short port, const Headers &headers) : m_socket(m_io) {
    beast::error_code ec;
    beast::get_lowest_layer(m_socket).connect(Loopback(port), ec);
    if (ec)
        return;
    beast::get_lowest_layer(m_socket).socket().set_option(tcp::no_delay(true), ec);
    m_socket.set_option(websocket::stream_base::decorator([headers](websocket::request_type &r) {
        for (const auto &[name, value] : headers)
            r.set(name, value);
    }));
    std::string host = "127.0.0.1:" + std::to_string(port);
    for (const auto &[name, value] : headers) {
        if (strcasecmp(name.c_str(), "Host") == 0)
            host = value;
    }
    m_socket.handshake(host, "/session", ec);
    if (ec)
        return;
    m_open = true;
    m_greeting = Next();
}

BridgeSocket::~BridgeSocket() {
    Close();
}

json BridgeSocket::Next() {
    beast::flat_buffer buffer;
    beast::error_code ec;
    m_socket.read(buffer, ec);
    if (ec) {
        m_open = false;
        return {{"closed", static_cast<int>(m_socket.reason().code)}, {"why", ec.message()}};
    }
    return json::parse(beast::buffers_to_string(buffer.data()), nullptr, false);
}

void BridgeSocket::SendText(const std::string &text) {
    beast::error_code ec;
    m_socket.text(true);
    m_socket.write(asio::buffer(text), ec);
    if (ec)
        m_open = false;
}

json BridgeSocket::Request(json request) {
    const int id = m_nextId++;
    request["id"] = id;
    const auto sent = std::chrono::steady_clock::now();
    SendText(request.dump());
    for (;;) {
        json message = Next();
        const bool reply = message.is_object() && message.contains("id") && message["id"] == id;
        if (reply)
            m_roundTrips.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent)
                    .count());
        if (message.contains("closed") || reply)
            return message;
        if (message.contains("event"))
            m_events.push_back(message);
    }
}

json BridgeSocket::Call(int object, const std::string &member, const json &args) {
    json reply = Request({{"op", "call"}, {"object", object}, {"member", member}, {"args", args}});
    return reply.contains("value") ? reply["value"] : reply;
}

size_t BridgeSocket::Available() {
    beast::error_code ec;
    size_t bytes = beast::get_lowest_layer(m_socket).socket().available(ec);
    return ec ? 0 : bytes;
}

void BridgeSocket::Close() {
    if (!m_open)
        return;
    beast::error_code ec;
    m_socket.close(websocket::close_code::normal, ec);
    m_open = false;
}

std::string PrintLabel(BridgeSocket &socket, int number, std::string &error) {
    const size_t seen = socket.Events().size();
    json created = socket.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}});
    if (!created.contains("value"))
        return error = "create: " + created.dump(), "";
    const int id = created["value"]["id"];
    socket.Call(id, "SetPaperSize", {1000, 1500});
    socket.Call(id, "SetPrinter", {"1"});
    const json serial = socket.Call(id, "BeginCharOf", {std::to_string(number), 6, "0"});
    if (!serial.is_string())
        return error = "label " + std::to_string(number) + ": " + serial.dump(), "";
    const std::string text = serial;
    socket.Call(id, "SetFont", {"黑体", 1});
    socket.Call(id, "PrintText", {5, 5, "发货单 Label " + text, 0, 0, 16});
    socket.Call(id, "DrawLine", {5, 15, 95, 15, 0, 0, 3, 0});
    socket.Call(id, "SetFont", {"宋体", 0});
    socket.Call(id, "PrintText", {5, 20, "收货人：张三  电话：13800000000", 0, 0, 10});
    socket.Call(id, "PrintBarCode", {3, "2026" + text, 5, 30, 0, 0, 60, 18});
    socket.Call(id, "PrintBarCode", {2, "SO-" + text + "|张三|北京市海淀区", 5, 60, 0, 0, 70, 30});
    socket.Call(id, "DrawLine", {5, 100, 95, 100, 0, 0, 1, 0x808080});
    socket.Call(id, "GetBarCodeImg", {1, "6901234567892"});
    json closed = socket.Call(id, "SetPrinter", {"0"});
    socket.Request({{"op", "release"}, {"object", id}});
    for (size_t i = seen; i < socket.Events().size(); ++i) {
        const json &event = socket.Events()[i];
        if (event.value("stage", "") == "finished")
            return event.value("where", "");
    }
    error = "label " + std::to_string(number) + " ended with " + closed.dump();
    return "";
}

std::string Base64Text(const std::string &bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned value = 0;
        for (size_t k = 0; k < 3; ++k)
            value = value << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k)
            text += k <= n ? kAlphabet[(value >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

} // namespace bridge_test
