#include "RawRequests.h"

#include "Base64.h"
#include "BridgeProtocol.h"
#include "platform/print/Printers.h"
#include "platform/print/RawJob.h"

namespace bridge {

using nlohmann::json;
namespace print = platform::print;

namespace {

// The job's title when the request gives none.
constexpr const char *kRawTitle = "Raw printer commands";

// The request's bytes: "data" as its UTF-8 text, or "base64" decoded;
// an error reply naming the field when they are missing or of a wrong type.
json BytesOf(const json &request, std::string &bytes) {
    const bool text = request.contains("data"), encoded = request.contains("base64");
    if (text == encoded)
        return Error(code::kBadRequest, "raw needs the bytes as \"data\" (text) or as \"base64\"");
    const json &field = text ? request["data"] : request["base64"];
    if (!field.is_string())
        return Error(code::kBadRequest,
                     std::string(text ? "data" : "base64") + " must be a string");
    if (text)
        bytes = field.get<std::string>();
    else if (!Base64::Decode(field.get<std::string>(), bytes))
        return Error(code::kBadRequest, "base64 is not base64 text");
    if (bytes.empty())
        return Error(code::kBadRequest, "raw has no bytes to send");
    return {};
}

json ReplyOf(const print::RawResult &result) {
    switch (result.refusal) {
    case print::RawResult::kNoPrinter:
        return Error(code::kNoPrinter, result.reason);
    case print::RawResult::kDocuments:
        return Error(code::kDocumentPrinter, result.reason);
    case print::RawResult::kNotTaken:
        return Error(code::kNotPrinted, result.reason);
    case print::RawResult::kNone:
        break;
    }
    json value = {{"job", result.jobId},
                  {"printer", result.printer},
                  {"format", result.format},
                  {"where", result.where}};
    if (result.cupsJob > 0)
        value["cupsJob"] = result.cupsJob;
    if (result.printerJob > 0)
        value["printerJob"] = result.printerJob;
    return {{"value", value}};
}

} // namespace

json RawRequests::Handle(const json &request, const std::string &printer, bool preview,
                         int copies) {
    std::string bytes, name = printer, title = kRawTitle;
    if (request.contains("printer") && !request["printer"].is_null()) {
        if (!request["printer"].is_string() || request["printer"].get<std::string>().empty())
            return Error(code::kBadRequest, "printer must be a printer's name or null");
        name = request["printer"].get<std::string>();
    }
    if (request.contains("title")) {
        if (!request["title"].is_string())
            return Error(code::kBadRequest, "title must be a string");
        title = request["title"].get<std::string>();
    }
    if (json refused = BytesOf(request, bytes); !refused.is_null())
        return refused;
    if (preview)
        return Error(code::kPreviewing,
                     "the connection previews its jobs: raw commands have nothing to show, and "
                     "nothing was sent");
    if (name.empty())
        name = print::DefaultPrinter().name;
    return ReplyOf(print::RawJob::Send(name, bytes, copies, title));
}

} // namespace bridge
