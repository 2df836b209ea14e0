// A session's printing requests, on its apartment thread: the printers the
// account can print to ("printers"), the session's own settings ("set"):
// the printer its jobs go to in place of the default, the copies of each
// job, and whether its jobs are previewed (rendered into the session's
// preview folder) rather than printed; raw printer commands ("raw",
// RawRequests); and documents the page has ("document", DocumentRequests).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace bridge {

class PrintRequests {
public:
    // previewFolder: where the session's previews go, made on first use.
    explicit PrintRequests(std::string previewFolder);

    static bool Handles(const std::string &op) {
        return op == "printers" || op == "set" || op == "raw" || op == "document";
    }
    // The request may be changed: a document's bytes are let go once read.
    nlohmann::json Handle(nlohmann::json &request);

private:
    nlohmann::json Set(const nlohmann::json &request);
    nlohmann::json Settings() const;

    std::string m_previewFolder;
    bool m_preview = false;
    int m_copies = 1;
};

} // namespace bridge
