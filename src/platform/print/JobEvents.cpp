#include "JobEvents.h"

#include <atomic>

namespace platform::print {
namespace {

thread_local JobObserver t_observer;

} // namespace

void ObserveJobsOnThisThread(JobObserver observer) {
    t_observer = std::move(observer);
}

void ReportJob(const JobEvent &event) {
    if (t_observer)
        t_observer(event);
}

int NewJobId() {
    static std::atomic<int> serial{0};
    return ++serial;
}

const char *JobStageName(JobEvent::Stage stage) {
    switch (stage) {
    case JobEvent::Started:
        return "started";
    case JobEvent::PageDone:
        return "page";
    case JobEvent::Finished:
        return "finished";
    case JobEvent::Failed:
        return "failed";
    case JobEvent::Aborted:
        return "aborted";
    case JobEvent::State:
        return "state";
    }
    return "unknown";
}

} // namespace platform::print
