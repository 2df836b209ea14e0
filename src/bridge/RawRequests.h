// A connection's raw printer commands ("raw"): bytes a page made for its
// label or receipt printer (ZPL, EPL, TSPL, ESC/POS), as UTF-8 text
// ("data") or as base64 ("base64"), sent unchanged as one job to a printer
// that takes them, with the connection's copies. Refused, with nothing
// sent: no such printer (no-printer), no bytes (bad-request), a printer
// that would print them as a document (document-printer), a connection
// that previews its jobs (previewing). The job's events and its line in
// the job log are a print job's.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace bridge {

class RawRequests {
public:
    static bool Handles(const std::string &op) { return op == "raw"; }
    // printer: the connection's own printer ("" for the default).
    static nlohmann::json Handle(const nlohmann::json &request, const std::string &printer,
                                 bool preview, int copies);
};

} // namespace bridge
