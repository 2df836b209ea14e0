#include "BridgeProtocol.h"

#include <cstdio>
#include <cstring>

namespace bridge {

const char *Version() {
    return QUILLBAY_VERSION;
}

nlohmann::json Error(std::string_view code, const std::string &message) {
    return {{"error", {{"code", code}, {"message", message}}}};
}

nlohmann::json Error(std::string_view code, const std::string &message, HRESULT hr) {
    nlohmann::json reply = Error(code, message);
    char text[16];
    snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    reply["error"]["hresult"] = static_cast<int32_t>(hr);
    reply["error"]["hresultText"] = text;
    return reply;
}

nlohmann::json HandlerFailure(const char *what) {
    return Error(code::kCallFailed,
                 std::string("the bridge could not carry out the request: ") + what, E_UNEXPECTED);
}

bool IsError(const nlohmann::json &reply) {
    return reply.is_object() && reply.contains("error");
}

int HttpStatusOf(const nlohmann::json &reply) {
    if (!IsError(reply))
        return 200;
    struct Status {
        const char *code;
        int status;
    };
    static constexpr Status kStatuses[] = {
        {code::kBadRequest, 400},    {code::kNotFound, 404},      {code::kHostRefused, 403},
        {code::kOriginRefused, 403}, {code::kTokenRequired, 401}, {code::kTooLarge, 413},
        {code::kLimit, 429},         {code::kNoSession, 404},     {code::kWrongSession, 403},
        {code::kShuttingDown, 503},  {code::kWrongUser, 403},     {code::kNoBridge, 503},
    };
    const std::string code = reply["error"].value("code", "");
    for (const Status &s : kStatuses) {
        if (code == s.code)
            return s.status;
    }
    return 200; // no-object, no-member, create-failed, call-failed: the call's own outcome
}

std::string Dump(const nlohmann::json &message) {
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// Whether a JSON text nests arrays and objects deeper than `bound`, read in
// one pass without recursion (brackets inside strings do not count); text
// that is not JSON gives some answer, and the parser refuses it afterwards.
bool NestsDeeper(std::string_view text, int bound) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > bound)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

} // namespace

bool ParseMessage(std::string_view text, nlohmann::json &message, std::string &error) {
    using json = nlohmann::json;
    if (NestsDeeper(text, kMaxNesting)) {
        // Refused; what nests too deep is passed over unread, so the rest
        // (the message's "id") still comes back with the refusal.
        message = json::parse(
            text,
            [](int depth, json::parse_event_t event, json &) {
                return depth < kMaxNesting || (event != json::parse_event_t::object_start &&
                                               event != json::parse_event_t::array_start);
            },
            false);
        error = "the message nests arrays and objects deeper than " + std::to_string(kMaxNesting);
        return false;
    }
    message = json::parse(text, nullptr, false);
    if (message.is_discarded()) {
        error = "the message is not valid JSON";
        return false;
    }
    if (!message.is_object()) {
        error = "the message is not a JSON object";
        return false;
    }
    return true;
}

} // namespace bridge
