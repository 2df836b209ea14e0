// A document a page already has (a carrier's label as PDF or PNG, a
// server's invoice as PDF) printed as it is, as one job of its own.
//
// A PDF goes to a CUPS printer unchanged, on the printer's paper of its
// first page's size (chosen as for the object's own jobs) at 100 %, or
// scaled to the printer's own paper when fitted; a PDF whose pages differ
// in size goes to a printer that takes PDF itself past CUPS' filters, so
// that each page keeps its paper, elsewhere on the first page's paper. An
// image becomes a one-page PDF: at its resolution it keeps its size (at
// the printer's, one pixel on each dot), its top-left corner on the
// paper's; an image that gives no resolution is fitted to the paper. The
// PDF printer writes a PDF byte for byte and an image as a one-page PDF of
// its size. The job reports its stages, gets its line in the job log, is
// kept whole when its printer does not take it, and on a thread that
// previews is previewed; a document refused is logged as refused.
#pragma once

#include <string>
#include <string_view>

#include "../kernel/windef.h"
#include "DocumentFacts.h"

namespace platform::print {

struct DocumentOrder {
    DocumentFormat format = DocumentFormat::kUnknown; // the page's word, else the bytes'
    bool fit = false;                                 // scaled to the paper
    std::string title;                                // the job's name
    int copies = 1;
};

struct DocumentResult {
    enum Refusal {
        kNone,        // printed (or kept, when its printer did not take it)
        kNoPrinter,   // no printer of that name
        kBadDocument, // no document it can print: empty, unknown, broken, encrypted
        kRawQueue,    // a queue that takes a printer's own commands only
        kNotPrinted   // the job could not be written or was not taken
    };
    Refusal refusal = kNone;
    std::string reason; // why not, for the page
    DWORD error = 0;
    int jobId = 0;   // the job's number in this process (its events')
    int cupsJob = 0; // the CUPS job it became
    std::string printer, format, where, kept;
    int pages = 0;
    int number = 0; // its line in the job log
    std::string previewPdf, previewPng;
};

class DocumentJob {
public:
    // Prints the document on the printer named.
    static DocumentResult Print(const std::string &printer, std::string_view bytes,
                                const DocumentOrder &order);
    // A document refused before it could be read (bytes the page sent in a
    // form that does not decode): its refused line in the job log.
    static DocumentResult Refuse(const std::string &printer, const std::string &title,
                                 const std::string &why);
};

} // namespace platform::print
