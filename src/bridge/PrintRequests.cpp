#include "PrintRequests.h"

#include <cmath>

#include "BridgeProtocol.h"
#include "DocumentRequests.h"
#include "RawRequests.h"
#include "RequestFields.h"
#include "platform/print/JobPreview.h"
#include "platform/print/Printers.h"

namespace bridge {

using nlohmann::json;
namespace print = platform::print;

namespace {

// The most copies a job may ask for (CUPS' own default limit is 9999,
// printers' copies-supported often 999).
constexpr long long kMostCopies = 999;

// Millimetres from hundredths of a millimetre, to the hundredth.
double Millimetres(int hundredths) {
    return std::round(hundredths) / 100.0;
}

json PaperOf(const print::PaperInfo &paper) {
    return {{"name", paper.name},
            {"width", Millimetres(paper.width)},
            {"height", Millimetres(paper.length)},
            {"margins",
             {{"left", Millimetres(paper.left)},
              {"top", Millimetres(paper.top)},
              {"right", Millimetres(paper.right)},
              {"bottom", Millimetres(paper.bottom)}}},
            {"default", paper.isDefault},
            {"loaded", paper.loaded}};
}

json PrinterOf(const print::PrinterDescription &printer) {
    json papers = json::array(), resolutions = json::array();
    for (const print::PaperInfo &paper : printer.papers)
        papers.push_back(PaperOf(paper));
    for (const auto &[x, y] : printer.resolutions)
        resolutions.push_back({{"x", x}, {"y", y}});
    json described = {{"name", printer.name},
                      {"default", printer.isDefault},
                      {"state", printer.state},
                      {"stateReasons", printer.stateReasons},
                      {"location", printer.location},
                      {"makeAndModel", printer.makeAndModel},
                      {"papers", papers},
                      {"resolutions", resolutions},
                      {"color", printer.color},
                      {"duplex", printer.duplex}};
    if (!printer.message.empty())
        described["message"] = printer.message;
    described["copies"] = {{"min", printer.copiesMin}, {"max", printer.copiesMax}};
    if (printer.customMax.width > 0)
        described["custom"] = {{"min",
                                {{"width", Millimetres(printer.customMin.width)},
                                 {"height", Millimetres(printer.customMin.length)}}},
                               {"max",
                                {{"width", Millimetres(printer.customMax.width)},
                                 {"height", Millimetres(printer.customMax.length)}}}};
    return described;
}

} // namespace

PrintRequests::PrintRequests(std::string previewFolder)
    : m_previewFolder(std::move(previewFolder)) {}

json PrintRequests::Handle(json &request) {
    const std::string op = RequestFields(request).String("op");
    if (op == "document")
        return DocumentRequests::Handle(request, print::PrinterOfThisThread(), m_copies);
    if (op == "raw")
        return RawRequests::Handle(request, print::PrinterOfThisThread(), m_preview, m_copies);
    if (op == "printers") {
        json printers = json::array();
        for (const print::PrinterDescription &printer : print::DescribePrinters())
            printers.push_back(PrinterOf(printer));
        return {{"value", printers}};
    }
    return Set(request);
}

// Each setting the request names is checked before any is changed: a
// request with one bad setting changes nothing.
json PrintRequests::Set(const json &request) {
    std::string printer = print::PrinterOfThisThread();
    bool preview = m_preview;
    int copies = m_copies;
    if (request.contains("printer")) {
        const json &name = request["printer"];
        print::PrinterInfo found;
        if (name.is_null())
            printer.clear();
        else if (!name.is_string() || name.get<std::string>().empty())
            return Error(code::kBadRequest, "printer must be a printer's name or null");
        else if (!print::FindPrinter(name.get<std::string>(), found))
            return Error(code::kNoPrinter, "there is no printer " + name.get<std::string>());
        else
            printer = found.name;
    }
    if (request.contains("preview")) {
        if (!request["preview"].is_boolean())
            return Error(code::kBadRequest, "preview must be true or false");
        preview = request["preview"].get<bool>();
        if (preview && m_previewFolder.empty())
            return Error(code::kCallFailed, "the bridge has no folder of its own for previews");
    }
    if (request.contains("copies")) {
        const json &asked = request["copies"];
        if (!asked.is_number_integer() || asked.get<long long>() < 1 ||
            asked.get<long long>() > kMostCopies)
            return Error(code::kBadRequest,
                         "copies must be a whole number from 1 to " + std::to_string(kMostCopies));
        copies = static_cast<int>(asked.get<long long>());
    }
    print::UsePrinterOnThisThread(printer);
    print::UseCopiesOnThisThread(copies);
    m_copies = copies;
    m_preview = preview;
    print::PreviewJobsOnThisThread(preview ? m_previewFolder : "");
    return {{"value", Settings()}};
}

json PrintRequests::Settings() const {
    const std::string &printer = print::PrinterOfThisThread();
    return {{"printer", printer.empty() ? json() : json(printer)},
            {"preview", m_preview},
            {"copies", m_copies}};
}

} // namespace bridge
