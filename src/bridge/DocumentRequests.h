// A connection's documents ("document"): a PDF, PNG or JPEG the page
// already has (a carrier's label, a server's invoice), as base64, printed
// as it is as one job on the printer named, else the connection's, else
// the default, with the connection's copies; "format" ("pdf", "png",
// "jpeg") says what it is when the page knows, "fit" ("actual", the
// default, or "fit") whether it is scaled to the paper, "title" names the
// job. Refused, with nothing sent and a refused line in the job log: no
// such printer (no-printer), bytes that are no document it prints or that
// contradict the format named (bad-document), a raw queue (raw-printer).
// The job's events and its line in the job log are a print job's; on a
// connection that previews, it is previewed.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace bridge {

class DocumentRequests {
public:
    static bool Handles(const std::string &op) { return op == "document"; }
    // printer: the connection's own printer ("" for the default). The
    // request's document (base64 text, or the bytes a large message's were
    // decoded into) is released once read.
    static nlohmann::json Handle(nlohmann::json &request, const std::string &printer, int copies);
};

} // namespace bridge
