// quillbay-jobs: the print jobs of the job log with what became of them,
// and the printing again of a job kept unprinted.
// A job handed to CUPS is looked up in the server's own job history, so a
// job the queue cancelled or aborted after the page had ended shows with
// its final state and the printer's reason.
//
//     quillbay-jobs [COUNT]                       the last COUNT jobs (default 20)
//     quillbay-jobs --reprint N [--printer NAME]  prints kept job N again
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/print/JobHandOver.h"
#include "ToolOptions.h"
#include "platform/print/JobLog.h"
#include "platform/print/RawJob.h"

namespace {

using platform::print::JobRecord;

const tool_options::ToolInfo kTool = {
    "quillbay-jobs",
    "usage: quillbay-jobs [COUNT]\n"
    "       quillbay-jobs --reprint N [--printer NAME]\n",
    "Lists the last COUNT print jobs of the job log (20 by default), each with\n"
    "its number, time, printer, title, where it went and what became of it: a\n"
    "CUPS job's state at the server, or for a job that did not print why, and\n"
    "whether its page is kept.\n"
    "\n"
    "  --reprint N     sends the kept page of job N to its printer, once\n"
    "  --printer NAME  with --reprint, to the printer NAME instead\n"
    "  --help          print this help\n"
    "  --version       print the version\n"};

// What became of a job: its CUPS job's state, or for one that did not
// print whether its page is still kept for printing again.
std::string Outcome(const JobRecord &job, const std::vector<JobRecord> &jobs) {
    if (!job.kept.empty()) {
        for (const JobRecord &later : jobs) {
            if (later.reprintOf == job.number && !later.failed)
                return "printed again: job " + std::to_string(later.number);
        }
        return access(job.kept.c_str(), F_OK) == 0 ? "not printed, kept: " + job.kept
                                                   : "not printed, the kept file is gone";
    }
    if (job.failed)
        return "failed";
    std::string state, reason;
    if (job.printerJob) {
        if (!platform::print::PrinterJobState(job.printerUri, job.printerJob, state, reason))
            return "unknown to the printer";
    } else if (!job.cupsJob) {
        return "done";
    } else if (!platform::print::CupsJobState(job.cupsJob, state, reason)) {
        return "unknown to the CUPS server";
    }
    return reason.empty() || state == "completed" ? state : state + ": " + reason;
}

int List(long count) {
    const std::vector<JobRecord> jobs = platform::print::JobLog::Read();
    const size_t first =
        jobs.size() > static_cast<size_t>(count) ? jobs.size() - static_cast<size_t>(count) : 0;
    for (size_t i = first; i < jobs.size(); ++i) {
        const JobRecord &job = jobs[i];
        char stamp[32];
        const time_t when = static_cast<time_t>(job.time);
        struct tm local {};
        localtime_r(&when, &local);
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        printf("%d\t%s\t%s\t%s\t%s\t%s\n", job.number, stamp, job.printer.c_str(),
               job.title.c_str(), job.where.c_str(), Outcome(job, jobs).c_str());
    }
    return 0;
}

int Reprint(int number, const std::string &printer) {
    const platform::print::JobOutcome outcome =
        platform::print::JobHandOver::Reprint(number, printer);
    if (!outcome.printed) {
        fprintf(stderr, "quillbay-jobs: job %d not printed: %s\n", number, outcome.reason.c_str());
        return 1;
    }
    printf("%s\n", outcome.where.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    if (argc > 1 && strcmp(argv[1], "--reprint") == 0) {
        const int number = argc > 2 ? atoi(argv[2]) : 0;
        const bool named = argc == 5 && strcmp(argv[3], "--printer") == 0;
        if (number <= 0 || (argc != 3 && !named))
            return tool_options::Usage(kTool);
        return Reprint(number, named ? argv[4] : "");
    }
    const long count = argc > 1 ? strtol(argv[1], nullptr, 10) : 20;
    if (count <= 0 || argc > 2)
        return tool_options::Usage(kTool);
    return List(count);
}
