#include "RawJob.h"

#include <chrono>
#include <thread>

#include "../kernel/winerror.h"
#include "JobErrors.h"
#include "JobEvents.h"
#include "JobLog.h"
#include "PrinterWatch.h"
#include "Printers.h"

namespace platform::print {
namespace {

// How long a job sent to the printer itself is followed there before the
// call answers (a label prints in well under a second).
constexpr auto kFollowFor = std::chrono::seconds(10);
constexpr auto kFollowEvery = std::chrono::milliseconds(50);

JobEvent EventOf(JobEvent::Stage stage, const RawResult &result, const std::string &title) {
    JobEvent event{stage, result.jobId, title, result.printer, 0, result.where, result.reason};
    event.cupsJob = result.cupsJob;
    event.printerJob = result.printerJob;
    return event;
}

// The states of a job at the printer itself as it moves on, until it ends
// or the time is up.
void FollowAtPrinter(const RawRoute &route, const RawResult &result, const std::string &title) {
    const auto end = std::chrono::steady_clock::now() + kFollowFor;
    std::string seen;
    while (std::chrono::steady_clock::now() < end) {
        std::string state, reason;
        if (!PrinterJobState(route.device, result.printerJob, state, reason))
            return;
        if (state + reason != seen) {
            seen = state + reason;
            JobEvent event = EventOf(JobEvent::State, result, title);
            event.state = state;
            event.reason = reason;
            ReportJob(event);
        }
        if (IsFinalJobState(state))
            return;
        std::this_thread::sleep_for(kFollowEvery);
    }
}

void Record(RawResult &result, const std::string &title) {
    JobRecord record;
    record.printer = result.printer;
    record.where = result.where;
    record.title = title;
    record.failed = result.refusal != RawResult::kNone;
    record.error = result.error;
    JobLog::Append(record, &result.number);
}

} // namespace

RawResult RawJob::Send(const std::string &printer, const std::string &bytes, int copies,
                       const std::string &title) {
    RawResult result;
    PrinterInfo info;
    if (!FindPrinter(printer, info) || info.pdf) {
        result.refusal = info.pdf ? RawResult::kDocuments : RawResult::kNoPrinter;
        result.reason = info.pdf ? "the PDF printer writes documents, not a printer's commands"
                                 : "there is no printer " + printer;
        return result;
    }
    result.printer = info.name;
    const RawRoute route = CupsRawRoute(info.name);
    if (route.kind == RawRoute::kUnknown || route.kind == RawRoute::kDocuments) {
        result.refusal =
            route.kind == RawRoute::kUnknown ? RawResult::kNoPrinter : RawResult::kDocuments;
        result.reason = route.kind == RawRoute::kUnknown
                            ? "CUPS has no printer " + info.name
                            : info.name + " would print the bytes as a document: " + route.why;
        return result;
    }
    result.jobId = NewJobId();
    ReportJob(EventOf(JobEvent::Started, result, title));
    const bool atPrinter = route.kind == RawRoute::kPrinterLanguage;
    result.format = atPrinter ? route.format : "application/vnd.cups-raw";
    int job = 0;
    std::string why;
    const bool sent = atPrinter
                          ? PrinterSubmitRaw(route, bytes, title, copies, job, why, result.error)
                          : CupsSubmitRaw(info.name, bytes, title, copies, job, why, result.error);
    if (!sent) {
        result.refusal = RawResult::kNotTaken;
        result.reason = why;
        result.where = "not printed: " + why;
        Record(result, title);
        ReportJob(EventOf(JobEvent::Failed, result, title));
        return result;
    }
    (atPrinter ? result.printerJob : result.cupsJob) = job;
    result.where =
        atPrinter ? "printer " + route.device + ", job " + std::to_string(job) + ", " + route.format
                  : "CUPS queue " + info.name + ", job " + std::to_string(job) + ", raw";
    Record(result, title);
    ReportJob(EventOf(JobEvent::Finished, result, title));
    if (atPrinter)
        FollowAtPrinter(route, result, title);
    return result;
}

} // namespace platform::print
