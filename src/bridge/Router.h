// The bridge's endpoints, on the I/O thread. Every request passes the gate
// first: its Host must be this bridge's loopback address; a request with an
// Origin needs that origin allowed (OriginPolicy, which may ask the user);
// one without needs the local token. The client files alone are public.
//
//   GET  /quillbay.js, /quillbay.d.ts, /IQuillDoc.d.ts   the client
//   GET  /version   {"name","version","protocol","classes":[...]}
//   POST /session   opens an HTTP session: {"session":TOKEN,"idleTimeout":S,...}
//   POST /call      {"session":TOKEN,"op":...} carried out in that session; a
//                   "create" without a session opens one (its token comes back)
//   POST /echo      the body back (a plain round trip, for comparison)
//   GET  /status    how it is reached and for whom; sessions, objects, calls in
//                   flight, memory
//   GET  /session   with "Upgrade: websocket": a session on a WebSocket
//   GET  /preview/KEY/FILE   a session's previewed job (PDF or PNG): the key
//                   is the session's own, so its address alone (an <img>'s,
//                   which carries no Origin) admits; another origin's
//                   request is refused
#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "BridgeOptions.h"
#include "ClassCatalog.h"
#include "HttpReplies.h"
#include "OriginPolicy.h"
#include "SessionTable.h"

namespace bridge {

class Router {
public:
    // Who passed the gate: an origin, or "local" for a program with the token.
    struct Caller {
        std::string owner;
        std::string allowOrigin; // what Access-Control-Allow-Origin echoes
    };
    using Respond = std::function<void(Response)>;

    Router(const BridgeOptions &options, SessionTable &sessions, OriginPolicy &policy,
           std::string token);
    void SetPort(unsigned short port) { m_port = port; }
    // How connections reach this bridge, for /status: "direct" (its own
    // port) or "dispatched" (handed over by the dispatcher).
    void SetServing(std::string serving) { m_serving = std::move(serving); }

    // Answers an HTTP request: `respond` runs once, now or later.
    void Handle(Request &&request, Respond respond);
    // Carries out a message of a WebSocket session; `reply` gets the answer,
    // with the message's "id". False when the message closes the session.
    bool SocketMessage(std::string_view text, const std::shared_ptr<PageSession> &session,
                       const PageSession::Reply &reply);
    // The same for a message larger than --max-request (and no larger than
    // --max-document): only a document's may be; its bytes are decoded out
    // of the text before the rest is read.
    bool LargeMessage(std::string text, const std::shared_ptr<PageSession> &session,
                      const PageSession::Reply &reply);
    // The bridge is stopping: every request from now on is answered
    // shutting-down.
    void Stop() { m_stopping = true; }
    bool Stopping() const { return m_stopping; }
    // The gate alone (a WebSocket upgrade): `accepted` or `refused` runs.
    void Admit(const Request &request, std::function<void(const Caller &)> accepted,
               Respond refused);
    nlohmann::json Status() const;
    nlohmann::json VersionInfo();

private:
    void Dispatch(Request &&request, Respond respond);
    void Route(const Request &request, const Caller &caller, Respond respond);
    // Parses a protocol message and reads its "op": null, else the reply
    // that refuses it (bad-request, or shutting-down once stopping).
    nlohmann::json ReadMessage(std::string_view text, nlohmann::json &message,
                               std::string &op) const;
    // Hands a read message to its session (true), or ends it ("close").
    bool SubmitMessage(nlohmann::json message, const std::string &op, const nlohmann::json &id,
                       const std::shared_ptr<PageSession> &session,
                       const PageSession::Reply &reply);
    void Call(const Request &request, const Caller &caller, Respond respond);
    void Submit(const std::shared_ptr<PageSession> &session, nlohmann::json message,
                const ReplyTo &to, Respond respond, bool opened);
    nlohmann::json OpenSession(const Caller &caller);
    Response Preview(const Request &request, const std::string &path);

    const BridgeOptions &m_options;
    SessionTable &m_sessions;
    OriginPolicy &m_policy;
    std::string m_token;
    unsigned short m_port = 0;
    std::string m_serving = "direct";
    bool m_stopping = false;
    ClassCatalog m_classes;
};

} // namespace bridge
