// The job log, $QUILLBAY_HOME/print-jobs.log: one line per job, whatever
// became of it, shared by every process of the user.
//
// A line is "TIME<tab>PRINTER<tab>WHERE<tab>TITLE", then for a job that did
// not print the fields "state=failed", "error=CODE" and, when its document
// was kept for printing again, "kept=PATH" and "paper=WIDTHxLENGTH"
// (tenths of a millimetre); a job that printed a kept one again carries
// "reprint=N", the number of that one's line.
#pragma once

#include <string>
#include <vector>

#include "../kernel/windef.h"

namespace platform::print {

struct JobRecord {
    long time = 0;
    std::string printer;
    std::string where; // the file written, the queue and job, or what went wrong
    std::string title;
    int cupsJob = 0; // the CUPS job number, 0 for the PDF printer
    // A job sent to the printer itself: its address and its job there.
    std::string printerUri;
    int printerJob = 0;
    bool failed = false;
    DWORD error = 0;    // why it failed, as the platform's error code
    std::string kept;   // the document of a job that did not print, kept
    int paperWidth = 0; // tenths of a millimetre, as the page lies
    int paperLength = 0;
    int reprintOf = 0; // the line of the kept job this one printed again
    int number = 0;    // its line in the log, from 1 (when read back)
};

class JobLog {
public:
    static std::string Path();
    // Appends a job as one line in one write: the whole line or, when the
    // disk is full, nothing at all; the lines of processes that append at
    // once never mix. False when the line could not be written; number,
    // when asked for, is the line's number.
    static bool Append(const JobRecord &job, int *number = nullptr);
    // The jobs of the log, oldest first.
    static std::vector<JobRecord> Read();
};

} // namespace platform::print
