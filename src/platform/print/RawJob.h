// A page's raw printer commands (ZPL, EPL, TSPL, ESC/POS bytes it made for
// its label or receipt printer) sent unchanged as one job of their own:
// to a queue without a driver, or with a driver that writes the printer's
// own language, as CUPS' raw format (the driver left out); to a driverless
// printer that lists a printer language among its document formats, in
// that format. CUPS gives such a printer a raw job as
// application/octet-stream, which LPrint refuses, so those bytes go to the
// printer itself (the queue's device) and their job is followed there.
// A printer that would take the bytes as a document to print (a driverless
// printer of PDF or raster only, a queue whose driver takes PostScript or
// PDF) gets nothing. Jobs report their stages to the thread's observer and
// get their line in the job log as page jobs do.
#pragma once

#include <string>

#include "../kernel/windef.h"

namespace platform::print {

struct RawResult {
    enum Refusal {
        kNone,      // sent
        kNoPrinter, // no printer of that name
        kDocuments, // the printer would print the bytes as a document
        kNotTaken   // the server or printer did not take the job
    };
    Refusal refusal = kNone;
    std::string reason; // why not, for the page
    DWORD error = 0;
    int jobId = 0;      // the job's number in this process (its events')
    int cupsJob = 0;    // the CUPS job, through CUPS
    int printerJob = 0; // the printer's job, sent to the printer itself
    std::string printer, format, where;
    int number = 0; // its line in the job log
};

class RawJob {
public:
    // Sends bytes, `copies` times over in the one job, to the printer named.
    static RawResult Send(const std::string &printer, const std::string &bytes, int copies,
                          const std::string &title);
};

// The way to a CUPS destination for raw bytes (RawJobCups.cpp).
struct RawRoute {
    enum Kind { kUnknown, kCupsRaw, kPrinterLanguage, kDocuments };
    Kind kind = kUnknown;
    std::string format; // kPrinterLanguage: the printer's language's type
    std::string device; // kPrinterLanguage: the printer's IPP address
    std::string why;    // kDocuments: what the printer takes instead
};
RawRoute CupsRawRoute(const std::string &queue);
// Sends the bytes: through CUPS as its raw format, copies asked of CUPS
// (its backends send the file that many times), or to the printer itself
// in its language, the bytes repeated for the copies (a printer
// application prints a raw file once, whatever the copies). True with the
// job's number, else false with why and the platform's error.
bool CupsSubmitRaw(const std::string &queue, const std::string &bytes, const std::string &title,
                   int copies, int &job, std::string &why, DWORD &error);
bool PrinterSubmitRaw(const RawRoute &route, const std::string &bytes, const std::string &title,
                      int copies, int &job, std::string &why, DWORD &error);
// A job's state at a printer reached over IPP ("pending", "processing",
// "completed", "aborted", ...) and the printer's words; false when the
// printer does not answer for it.
bool PrinterJobState(const std::string &device, int job, std::string &state, std::string &reason);

} // namespace platform::print
