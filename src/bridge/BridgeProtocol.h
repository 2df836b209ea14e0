// The bridge's protocol: the version a page checks, the error replies and
// how they map onto HTTP statuses. Messages are JSON objects; the README's
// section on the bridge describes them for page and program authors.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace bridge {

// The protocol's number: a client that speaks a higher one is newer than
// this bridge and tells its page that the bridge is too old.
inline constexpr int kProtocol = 1;
// The bridge's own version (the project's).
const char *Version();

// The codes of error replies.
namespace code {
inline constexpr const char *kBadRequest = "bad-request"; // not a message of the protocol
inline constexpr const char *kNotFound = "not-found";     // no such endpoint
inline constexpr const char *kHostRefused =
    "host-refused"; // Host is not this bridge's loopback address
inline constexpr const char *kOriginRefused =
    "origin-refused"; // the user has not allowed the page's origin
inline constexpr const char *kTokenRequired = "token-required"; // no Origin and no valid token
inline constexpr const char *kTooLarge = "too-large";   // the request exceeds the size limit
inline constexpr const char *kLimit = "limit";          // sessions, objects or calls in flight
inline constexpr const char *kNoSession = "no-session"; // unknown, closed or expired session
inline constexpr const char *kWrongSession = "wrong-session"; // a session of another origin
inline constexpr const char *kNoObject = "no-object";         // not an object of this session
inline constexpr const char *kNoMember = "no-member";         // the object has no such member
inline constexpr const char *kCreateFailed = "create-failed"; // the object could not be created
inline constexpr const char *kCallFailed = "call-failed"; // the member returned a failure HRESULT
inline constexpr const char *kNoPrinter = "no-printer";   // set, watch: no printer of that name
inline constexpr const char *kDocumentPrinter =
    "document-printer"; // raw: the printer would print the bytes as a document
inline constexpr const char *kPreviewing = "previewing";  // raw: the connection previews its jobs
inline constexpr const char *kNotPrinted = "not-printed"; // raw: the printer did not take the job
inline constexpr const char *kBadDocument = "bad-document"; // document: no document it prints
inline constexpr const char *kRawPrinter = "raw-printer";   // document: a queue of raw commands
inline constexpr const char *kShuttingDown = "shutting-down";
inline constexpr const char *kWrongUser = "wrong-user"; // the connection is another account's
inline constexpr const char *kNoBridge = "no-bridge";   // the dispatcher: no bridge for the account
} // namespace code

// {"error":{"code":..., "message":...}} and, with an HRESULT, "hresult"
// (the signed 32-bit value, as a script's error.number) and "hresultText".
nlohmann::json Error(std::string_view code, const std::string &message);
nlohmann::json Error(std::string_view code, const std::string &message, HRESULT hr);
bool IsError(const nlohmann::json &reply);
// The reply to a request whose handling failed inside the bridge (a
// library's exception): call-failed with E_UNEXPECTED. The request is
// answered and its session goes on.
nlohmann::json HandlerFailure(const char *what);
// A handler's reply; what it throws becomes HandlerFailure's reply.
template <typename Handler> nlohmann::json Guarded(Handler &&handler) {
    try {
        return handler();
    } catch (const std::exception &e) {
        return HandlerFailure(e.what());
    } catch (...) {
        return HandlerFailure("an unknown failure");
    }
}

// The HTTP status of a reply: 200, except for errors of the protocol itself
// (a member's failure is the member's result and comes with 200).
int HttpStatusOf(const nlohmann::json &reply);

// JSON text; text that is not valid UTF-8 has its bad bytes replaced.
std::string Dump(const nlohmann::json &message);
// How deeply a message's arrays and objects may nest. Values are copied and
// written out recursively, so a page's value is bounded before it is read.
inline constexpr int kMaxNesting = 64;
// Parses a message; false (and `error` says why) unless it is a JSON object
// nested at most kMaxNesting deep.
bool ParseMessage(std::string_view text, nlohmann::json &message, std::string &error);

} // namespace bridge
