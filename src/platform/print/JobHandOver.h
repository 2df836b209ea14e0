// The end of a print job: its document handed to its printer (the PDF
// printer's file given its name, a CUPS job sent) or, when a CUPS printer
// cannot take it, kept whole and unprinted in the print folder; the job's
// line in the job log; and the user told, without waiting for them, when
// a job did not print.
#pragma once

#include <string>

#include "JobFile.h"
#include "Printers.h"

namespace platform::print {

struct JobOutcome {
    bool printed = false;
    DWORD error = 0;    // why not, as the platform's error code
    std::string where;  // what the job log says became of it
    std::string reason; // why it did not print
    std::string kept;   // the kept document of a job that did not print
    int number = 0;     // its line in the job log
    int cupsJob = 0;    // the CUPS job it became
    // A previewed job: its PDF, as printing would send it, and a PNG of its
    // first page (empty when none could be made).
    std::string previewPdf;
    std::string previewPng;
};

class JobHandOver {
public:
    // The paper is in tenths of a millimetre, as the page was made; the
    // settings (copies, scaling) are asked of a CUPS printer.
    JobHandOver(PrinterInfo printer, std::string title, int paperWidth, int paperLength,
                SubmitSettings settings = {});

    // The job's document could not be written (the file's error): nothing
    // printed, nothing kept.
    JobOutcome Failed(const JobFile &file);
    // The whole document goes to the printer; on a thread that previews,
    // it is kept in the preview folder instead, and not logged.
    JobOutcome Deliver(JobFile &file);
    // Sends the job on line number of the job log, kept unprinted, to its
    // own printer or to the one named. The user is told by the caller.
    static JobOutcome Reprint(int number, const std::string &printerName);

private:
    JobOutcome Kept(JobFile &file, JobOutcome outcome);
    JobOutcome Preview(JobFile &file);
    JobOutcome SendAgain(const std::string &document, int number);
    JobOutcome Record(JobOutcome outcome, bool keptHere, int reprintOf);

    PrinterInfo m_printer;
    std::string m_title;
    int m_paperWidth;
    int m_paperLength;
    SubmitSettings m_settings;
};

} // namespace platform::print
