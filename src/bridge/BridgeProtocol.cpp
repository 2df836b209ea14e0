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

bool ParseMessage(std::string_view text, nlohmann::json &message, std::string &error) {
    message = nlohmann::json::parse(text, nullptr, false);
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
