#include "DocumentRequests.h"

#include <string_view>

#include "Base64.h"
#include "BridgeProtocol.h"
#include "RequestFields.h"
#include "platform/print/DocumentJob.h"
#include "platform/print/Printers.h"

namespace bridge {

using nlohmann::json;
namespace print = platform::print;

namespace {

json ReplyOf(const print::DocumentResult &result) {
    switch (result.refusal) {
    case print::DocumentResult::kNoPrinter:
        return Error(code::kNoPrinter, result.reason);
    case print::DocumentResult::kBadDocument:
        return Error(code::kBadDocument, result.reason);
    case print::DocumentResult::kRawQueue:
        return Error(code::kRawPrinter, result.reason);
    case print::DocumentResult::kNotPrinted:
        // Where the document is kept, when it is, with why.
        return Error(code::kNotPrinted, result.where);
    case print::DocumentResult::kNone:
        break;
    }
    json value = {{"job", result.jobId},     {"printer", result.printer},
                  {"format", result.format}, {"pages", result.pages},
                  {"where", result.where}};
    if (result.cupsJob > 0)
        value["cupsJob"] = result.cupsJob;
    return {{"value", value}};
}

} // namespace

json DocumentRequests::Handle(json &request, const std::string &printer, int copies) {
    RequestFields fields(request);
    std::string name = fields.StringOrNull("printer").value_or(printer);
    print::DocumentOrder order;
    order.title = fields.String("title");
    const std::string format = fields.String("format");
    const std::string fit = fields.String("fit", "actual");
    if (fields.Has("format") && (order.format = print::DocumentFormatNamed(format)) ==
                                    print::DocumentFormat::kUnknown)
        fields.Refuse("format", "\"pdf\", \"png\" or \"jpeg\"");
    if (fit != "actual" && fit != "fit")
        fields.Refuse("fit", "\"actual\" or \"fit\"");
    const json &data = fields.Raw("base64");
    if (!data.is_binary() && !data.is_string())
        fields.Refuse("base64", "the document as base64 text");
    if (fields.Has("printer") && request["printer"].is_string() && name.empty())
        fields.Refuse("printer", "a printer's name or null");
    if (!fields.Ok())
        return fields.Failure();
    order.fit = fit == "fit";
    order.copies = copies;
    if (name.empty())
        name = print::DefaultPrinter().name;
    // A large message's document came decoded; a small one's is decoded
    // here. Either way the request lets go of it once the job has it.
    std::string decoded;
    if (data.is_string() && !Base64::Decode(data.get_ref<const std::string &>(), decoded))
        return ReplyOf(print::DocumentJob::Refuse(name, order.title, "base64 is not base64 text"));
    std::string_view bytes = decoded;
    if (data.is_binary())
        bytes = std::string_view(reinterpret_cast<const char *>(data.get_binary().data()),
                                 data.get_binary().size());
    else
        request["base64"] = nullptr;
    const json reply = ReplyOf(print::DocumentJob::Print(name, bytes, order));
    request["base64"] = nullptr;
    return reply;
}

} // namespace bridge
