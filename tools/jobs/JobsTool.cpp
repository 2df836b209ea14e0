// quillbay-jobs: the print jobs of the job log with what became of them.
// A job handed to CUPS is looked up in the server's own job history, so a
// job the queue cancelled or aborted after the page had ended shows with
// its final state and the printer's reason.
//
//     quillbay-jobs [COUNT]     the last COUNT jobs (default 20)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/print/Printers.h"

int main(int argc, char **argv) {
    const long count = argc > 1 ? strtol(argv[1], nullptr, 10) : 20;
    if (count <= 0) {
        fprintf(stderr, "usage: quillbay-jobs [COUNT]\n");
        return 2;
    }
    const std::vector<platform::print::JobRecord> jobs = platform::print::RecordedJobs();
    const size_t first =
        jobs.size() > static_cast<size_t>(count) ? jobs.size() - static_cast<size_t>(count) : 0;
    for (size_t i = first; i < jobs.size(); ++i) {
        const platform::print::JobRecord &job = jobs[i];
        char stamp[32];
        const time_t when = static_cast<time_t>(job.time);
        struct tm local {};
        localtime_r(&when, &local);
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::string outcome = job.cupsJob ? "unknown to the CUPS server" : "done";
        std::string state, reason;
        if (job.cupsJob && platform::print::CupsJobState(job.cupsJob, state, reason))
            outcome = reason.empty() || state == "completed" ? state : state + ": " + reason;
        printf("%s\t%s\t%s\t%s\t%s\n", stamp, job.printer.c_str(), job.title.c_str(),
               job.where.c_str(), outcome.c_str());
    }
    return 0;
}
