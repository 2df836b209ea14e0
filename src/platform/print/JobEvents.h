// The progress of the print jobs a thread runs, for a host that shows it to
// its user (the bridge tells the page that asked for the job).
#pragma once

#include <functional>
#include <string>

namespace platform::print {

struct JobEvent {
    // State: a job sent to the printer itself (not through CUPS), in a
    // state the printer gave (state, reason).
    enum Stage { Started, PageDone, Finished, Failed, Aborted, State };
    Stage stage;
    int jobId;
    std::string title;      // UTF-8
    std::string printer;    // UTF-8
    int pages;              // pages ended so far
    std::string where;      // Finished: the file written, or the queue and job;
                            // Failed: what became of the job
    std::string reason;     // Failed: why it did not print
    std::string kept;       // Failed: the page kept unprinted, when it was
    int cupsJob = 0;        // Finished: the CUPS job it became
    std::string previewPdf; // Finished on a thread that previews: the PDF
    std::string previewPng; // and the picture of its first page
    int printerJob = 0;     // Finished, State: the job at the printer itself
    std::string state;      // State: the printer's name for it ("completed")
};

using JobObserver = std::function<void(const JobEvent &)>;

// Observes the jobs of the calling thread from now on; an empty observer
// stops. Events are reported on that thread, while the job's call runs.
void ObserveJobsOnThisThread(JobObserver observer);
void ReportJob(const JobEvent &event);

// A number for a new job of this process (jobs of several threads may
// start at once).
int NewJobId();

// A stage's name: "started", "page", "finished", "failed", "aborted",
// "state".
const char *JobStageName(JobEvent::Stage stage);

} // namespace platform::print
