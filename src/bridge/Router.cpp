#include "Router.h"

#include <cctype>
#include <cstdio>
#include <unistd.h>

#include "BridgeProtocol.h"
#include "ClientFiles.h"
#include "DocumentMessage.h"
#include "OriginList.h"
#include "RequestFields.h"
#include "TypeDescription.h"
#include "platform/kernel/SocketOwner.h"

namespace bridge {

using nlohmann::json;

namespace {

std::string PathOf(const Request &request) {
    std::string target(request.target());
    return target.substr(0, target.find('?'));
}

// A request that comes while the bridge stops; readable by the page.
Response StoppingReply(const Request &request) {
    return JsonResponse(ReplyToOf(request, HeaderOf(request, "Origin")),
                        Error(code::kShuttingDown, "the bridge is stopping"));
}

Response HostRefusal(const Request &request) {
    return JsonResponse(
        ReplyToOf(request, ""),
        Error(code::kHostRefused, "the Host header is not this bridge's loopback address"));
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE *statm = fopen("/proc/self/statm", "r")) {
        if (fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

Router::Router(const BridgeOptions &options, SessionTable &sessions, OriginPolicy &policy,
               std::string token)
    : m_options(options), m_sessions(sessions), m_policy(policy), m_token(std::move(token)) {}

void Router::Handle(Request &&request, Respond respond) {
    // What a handler throws (a library's exception) answers the request.
    const ReplyTo to = ReplyToOf(request, "");
    try {
        Dispatch(std::move(request), respond);
    } catch (const std::exception &e) {
        respond(JsonResponse(to, HandlerFailure(e.what())));
    }
}

void Router::Dispatch(Request &&request, Respond respond) {
    if (m_stopping)
        return respond(StoppingReply(request));
    if (!HostIsLoopback(HeaderOf(request, "Host"), m_port))
        return respond(HostRefusal(request));
    const std::string path = PathOf(request);
    ClientFile file;
    if (request.method() == http::verb::get && FindClientFile(path, file)) {
        // Public; readable by scripts of allowed origins only.
        const std::string origin = HeaderOf(request, "Origin");
        const bool allowed =
            !origin.empty() && m_policy.Check(origin) == OriginPolicy::Verdict::Allowed;
        return respond(TextResponse(ReplyToOf(request, allowed ? origin : ""), 200, file.body,
                                    file.contentType));
    }
    if (request.method() == http::verb::get && path.rfind("/preview/", 0) == 0)
        return respond(Preview(request, path));
    if (request.method() == http::verb::options)
        return respond(PreflightResponse(request, m_policy.Check(HeaderOf(request, "Origin")) !=
                                                      OriginPolicy::Verdict::Refused));
    auto shared = std::make_shared<Request>(std::move(request));
    Admit(
        *shared, [this, shared, respond](const Caller &caller) { Route(*shared, caller, respond); },
        respond);
}

void Router::Admit(const Request &request, std::function<void(const Caller &)> accepted,
                   Respond refused) {
    if (m_stopping)
        return refused(StoppingReply(request));
    if (!HostIsLoopback(HeaderOf(request, "Host"), m_port))
        return refused(HostRefusal(request));
    ReplyTo to = ReplyToOf(request, "");
    const std::string origin = HeaderOf(request, "Origin");
    if (origin.empty()) {
        if (TokenMatches(HeaderOf(request, "Authorization"), m_token))
            return accepted(Caller{"local", ""});
        return refused(JsonResponse(to, Error(code::kTokenRequired,
                                              "a request without an Origin needs the bridge's "
                                              "token (Authorization: Bearer TOKEN)")));
    }
    // A refusal is readable by the page, so its script can say why.
    to.allowOrigin = origin;
    std::string owner;
    NormalizeOrigin(origin, owner);
    auto refuse = [refused, to, origin] {
        refused(JsonResponse(
            to, Error(code::kOriginRefused, "quillbay-bridge: the user has not allowed " + origin +
                                                " to use the print object")));
    };
    switch (m_policy.Check(origin)) {
    case OriginPolicy::Verdict::Allowed:
        return accepted(Caller{owner, origin});
    case OriginPolicy::Verdict::Refused:
        return refuse();
    case OriginPolicy::Verdict::Ask:
        return m_policy.Ask(origin, [accepted, refuse, owner, origin](bool allowed) {
            allowed ? accepted(Caller{owner, origin}) : refuse();
        });
    }
}

void Router::Route(const Request &request, const Caller &caller, Respond respond) {
    const std::string path = PathOf(request);
    const ReplyTo to = ReplyToOf(request, caller.allowOrigin);
    const http::verb method = request.method();
    if (path == "/call" && method == http::verb::post)
        return Call(request, caller, std::move(respond));
    if (path == "/echo" && method == http::verb::post)
        return respond(TextResponse(to, 200, request.body(), "text/plain; charset=utf-8"));
    if (path == "/version" && method == http::verb::get)
        return respond(JsonResponse(to, VersionInfo()));
    if (path == "/session" && method == http::verb::post)
        return respond(JsonResponse(to, OpenSession(caller)));
    if (path == "/status" && method == http::verb::get)
        return respond(JsonResponse(to, Status()));
    respond(JsonResponse(
        to, Error(code::kNotFound,
                  "no endpoint " + std::string(request.method_string()) + " " + path)));
}

namespace {

// An address's part with its %XX escapes decoded; a bad escape stays as it is.
std::string Unescaped(const std::string &text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

} // namespace

Response Router::Preview(const Request &request, const std::string &path) {
    const size_t slash = path.find('/', 9);
    const std::string key = path.substr(9, slash == std::string::npos ? 0 : slash - 9);
    auto session = m_sessions.FindPreview(key);
    const std::string file = session && slash != std::string::npos
                                 ? session->PreviewFile(Unescaped(path.substr(slash + 1)))
                                 : "";
    const std::string origin = HeaderOf(request, "Origin");
    std::string owner;
    if (!origin.empty() && session &&
        (!NormalizeOrigin(origin, owner) || owner != session->Owner()))
        return JsonResponse(ReplyToOf(request, ""),
                            Error(code::kWrongSession, "the preview belongs to another page"));
    if (file.empty())
        return JsonResponse(ReplyToOf(request, ""),
                            Error(code::kNotFound, "no such preview (its session ended?)"));
    std::string body;
    if (FILE *in = fopen(file.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
            body.append(buffer, n);
        fclose(in);
    }
    const bool pdf = file.size() > 4 && file.compare(file.size() - 4, 4, ".pdf") == 0;
    return TextResponse(ReplyToOf(request, origin), 200, body,
                        pdf ? "application/pdf" : "image/png");
}

json Router::OpenSession(const Caller &caller) {
    auto session = m_sessions.Open(caller.owner, false);
    if (!session)
        return Error(code::kLimit,
                     "the bridge has " + std::to_string(m_options.maxSessions) + " sessions open");
    return {{"session", session->Token()},
            {"idleTimeout", m_options.idleSeconds},
            {"version", Version()},
            {"protocol", kProtocol}};
}

void Router::Call(const Request &request, const Caller &caller, Respond respond) {
    const ReplyTo to = ReplyToOf(request, caller.allowOrigin);
    json message;
    std::string op;
    if (json refused = ReadMessage(request.body(), message, op); !refused.is_null())
        return respond(JsonResponse(to, refused));
    RequestFields fields(message);
    const std::string token = fields.String("session");
    if (!fields.Ok())
        return respond(JsonResponse(to, fields.Failure()));
    if (token.empty() && op == "create") {
        // A page's first object opens its session in the same round trip.
        json opened = OpenSession(caller);
        if (IsError(opened))
            return respond(JsonResponse(to, opened));
        return Submit(m_sessions.Find(opened["session"]), std::move(message), to, respond, true);
    }
    auto session = m_sessions.Find(token);
    if (!session)
        return respond(JsonResponse(to, Error(code::kNoSession, "no such session (it ended, "
                                                                "or the bridge restarted)")));
    if (session->Owner() != caller.owner)
        return respond(
            JsonResponse(to, Error(code::kWrongSession, "the session belongs to another page")));
    if (op == "close") {
        m_sessions.Close(token);
        return respond(JsonResponse(to, {{"value", {{"$", "undefined"}}}}));
    }
    Submit(session, std::move(message), to, respond, false);
}

json Router::ReadMessage(std::string_view text, json &message, std::string &op) const {
    std::string error;
    if (!ParseMessage(text, message, error))
        return Error(code::kBadRequest, error);
    RequestFields fields(message);
    op = fields.String("op");
    if (!fields.Ok())
        return fields.Failure();
    if (m_stopping && op != "close")
        return Error(code::kShuttingDown, "the bridge is stopping");
    return nullptr;
}

bool Router::SocketMessage(std::string_view text, const std::shared_ptr<PageSession> &session,
                           const PageSession::Reply &reply) {
    json message, id;
    std::string op;
    json refused = Guarded([&] { return ReadMessage(text, message, op); });
    if (message.is_object() && message.contains("id"))
        id = message["id"];
    if (!refused.is_null()) {
        refused["id"] = id;
        reply(std::move(refused));
        return true;
    }
    return SubmitMessage(std::move(message), op, id, session, reply);
}

bool Router::LargeMessage(std::string text, const std::shared_ptr<PageSession> &session,
                          const PageSession::Reply &reply) {
    std::vector<uint8_t> bytes;
    std::string idText;
    const DocumentMessage::Outcome split = DocumentMessage::Split(text, bytes, idText);
    json message, id = json::parse(idText, nullptr, false);
    if (id.is_discarded())
        id = nullptr;
    std::string op;
    json refused = split == DocumentMessage::kNoDocument
                       ? Error(code::kTooLarge,
                               "a message is larger than " + std::to_string(m_options.maxRequest) +
                                   " bytes: only a document's may be")
                       : Guarded([&] { return ReadMessage(text, message, op); });
    if (refused.is_null() && op != "document")
        refused = Error(code::kTooLarge, "a message is larger than " +
                                             std::to_string(m_options.maxRequest) +
                                             " bytes: only a document's may be");
    if (!refused.is_null()) {
        refused["id"] = id;
        reply(std::move(refused));
        return true;
    }
    // Bytes that did not decode go on as text that is not base64, to be
    // refused (and logged) as any such document.
    message["base64"] = split == DocumentMessage::kDocument
                            ? json::binary(std::move(bytes))
                            : json("(not base64)");
    return SubmitMessage(std::move(message), op, id, session, reply);
}

bool Router::SubmitMessage(json message, const std::string &op, const json &id,
                           const std::shared_ptr<PageSession> &session,
                           const PageSession::Reply &reply) {
    if (op == "close")
        return false;
    json failed = Guarded([&] {
        session->Submit(std::move(message), [reply, id](json answer) {
            answer["id"] = id;
            reply(std::move(answer));
        });
        return json();
    });
    if (!failed.is_null()) {
        failed["id"] = id;
        reply(std::move(failed));
    }
    return true;
}

void Router::Submit(const std::shared_ptr<PageSession> &session, json message, const ReplyTo &to,
                    Respond respond, bool opened) {
    json id = message.contains("id") ? message["id"] : json();
    json extra = opened
                     ? json{{"session", session->Token()}, {"idleTimeout", m_options.idleSeconds}}
                     : json();
    session->Submit(std::move(message), [to, respond, id = std::move(id), extra](json answer) {
        if (!id.is_null())
            answer["id"] = id;
        if (!extra.is_null())
            answer.update(extra);
        respond(JsonResponse(to, answer));
    });
}

json Router::VersionInfo() {
    return {{"name", "quillbay-bridge"},
            {"version", Version()},
            {"protocol", kProtocol},
            {"classes", m_classes.Classes()}};
}

json Router::Status() const {
    return {{"serving", m_serving},
            {"account", platform::AccountName(platform::OwnAccount())},
            {"port", m_port},
            {"sessions", m_sessions.Count()},
            {"objects", PageObjects::Live()},
            {"callsInFlight", m_sessions.CallsInFlight()},
            {"residentBytes", ResidentBytes()},
            {"serversIdle", ClassServersIdle()}};
}

} // namespace bridge
