// One CUPS destination found by its name ("queue" or "queue/instance"),
// with the capabilities the server gives for it, freed on destruction.
// Only the print component's CUPS backends include this header.
#pragma once

#include <cups/cups.h>
#include <memory>
#include <string>
#include <vector>

namespace platform::print {

class CupsDestination {
public:
    explicit CupsDestination(const std::string &name);
    // The destination once it has its driver: a queue just added (lpadmin
    // -m everywhere) has none until CUPS has asked its printer for one, and
    // a job sent before goes to the printer unconverted, with a size name
    // the printer may not know. Such a queue is waited for (at most 30 s);
    // pending tells whether it still has none.
    static std::unique_ptr<CupsDestination> WithDriver(const std::string &name, bool &pending);
    ~CupsDestination();
    CupsDestination(const CupsDestination &) = delete;
    CupsDestination &operator=(const CupsDestination &) = delete;

    // Null when the server has no such destination (or does not answer).
    cups_dest_t *Dest() const { return m_dest; }
    // Null when the destination's capabilities could not be read.
    cups_dinfo_t *Info() const { return m_info; }
    // One of the destination's options ("device-uri", "printer-make-and-model"),
    // "" when it has none.
    std::string Option(const char *name) const;

    // Whether the queue is one CUPS is still making the driver of: a
    // driverless printer's queue just added, with no driver yet ("Local Raw
    // Printer"), whose printer, reached over IPP, does not take PDF: a
    // page's PDF would reach it unconverted.
    bool DriverPending() const;

private:
    cups_dest_t *m_dests = nullptr;
    int m_count = 0;
    cups_dest_t *m_dest = nullptr;
    cups_dinfo_t *m_info = nullptr;
};

// A connection to a printer at an IPP address (ipp:, ipps:), and the
// resource to post to; null for any other address or when it does not
// answer.
http_t *ConnectPrinter(const std::string &uri, std::string &resource);
// The document formats the printer at an IPP address lists; false when it
// does not answer.
bool PrinterFormats(const std::string &uri, std::vector<std::string> &formats);

// A job's state in an answer about it (job-state's keyword), with the
// printer's message and the job's reasons ("none" left out); false when the
// answer has none.
bool JobStateOf(ipp_t *response, std::string &state, std::string &reason);

} // namespace platform::print
