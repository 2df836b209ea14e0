// The printers a page lists and the states it is told, at a private cupsd
// with 20 driverless queues, each figure beside a peer in the same run:
//   Describe: DescribePrinters() (every queue's state, papers, resolutions,
//     colour and duplex, as bridge.printers() answers) against bare libcups
//     doing the least any lister does, cupsGetDests2 and cupsCopyDestInfo
//     for each queue;
//   EventLatency: from cupsdisable's (or cupsenable's) start to the watch's
//     printer event, against the same command followed by lpstat until it
//     shows the change (how soon a program that asks again learns it);
//   CancelLatency: the same for a held job that cancel ends, against lpstat
//     asked until the job is no longer listed as waiting.
// Each latency is the median of 20, with the least and the most.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cups/cups.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/print/PrinterWatch.h"
#include "platform/print/Printers.h"
#include "testing/PrivateCups.h"
#include "testing/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQueues = 20;
testing_support::PrivateCups *g_cups = nullptr;

void Describe(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::print::DescribePrinters());
    state.counters["printers"] = static_cast<double>(platform::print::DescribePrinters().size());
}

void DescribeBareLibcups(benchmark::State &state) {
    for (auto _ : state) {
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i)
            cupsFreeDestInfo(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, &dests[i]));
        cupsFreeDests(count, dests);
    }
}

// What the watch told, for the figures to wait on.
class Told {
public:
    void Add(const platform::print::PrinterEvent &e) {
        std::lock_guard held(m_lock);
        m_states[Key(e.kind, e.kind == platform::print::PrinterEvent::Job ? e.job : 0, e.printer)] =
            e.state;
        m_told.notify_all();
    }
    // Waits up to 5 s for the printer's or job's state.
    bool WaitFor(platform::print::PrinterEvent::Kind kind, int job, const std::string &printer,
                 const std::string &state) {
        std::unique_lock held(m_lock);
        return m_told.wait_for(held, std::chrono::seconds(5), [&] {
            return m_states[Key(kind, job,
                                kind == platform::print::PrinterEvent::Job ? "" : printer)] ==
                   state;
        });
    }

private:
    static std::string Key(platform::print::PrinterEvent::Kind kind, int job,
                           const std::string &printer) {
        return kind == platform::print::PrinterEvent::Job ? "job " + std::to_string(job)
                                                          : "printer " + printer;
    }
    std::mutex m_lock;
    std::condition_variable m_told;
    std::map<std::string, std::string> m_states;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Each iteration's own time, and the median, least and most of them.
void Report(benchmark::State &state, std::vector<double> &times) {
    std::sort(times.begin(), times.end());
    if (times.empty())
        return;
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["least_ms"] = times.front();
    state.counters["most_ms"] = times.back();
}

// A job held in the queue (lp -H hold), as a page's job waiting to print;
// its CUPS number, or 0.
int HeldJob() {
    static const std::string page = [] {
        const std::string path = testing_support::MakeTempDir("bench-printers-") + "/page.pdf";
        testing_support::Run(
            {"/usr/bin/gs", "-q", "-sDEVICE=pdfwrite", "-o", path, "-c", "showpage"});
        return path;
    }();
    const std::string sent =
        testing_support::Run({"/usr/bin/lp", "-d", "testq", "-H", "hold", page}).output;
    const size_t dash = sent.find("testq-"); // "request id is testq-N (1 file(s))"
    return dash == std::string::npos ? 0 : atoi(sent.c_str() + dash + 6);
}

// Stops and starts a queue; the time until the watch tells each change.
void EventLatency(benchmark::State &state) {
    Told told;
    const int listener = platform::print::PrinterWatch::Listen(
        [&told](const platform::print::PrinterEvent &e) { told.Add(e); });
    std::vector<double> times;
    bool stop = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        testing_support::Run({stop ? "/usr/sbin/cupsdisable" : "/usr/sbin/cupsenable", "testq"});
        told.WaitFor(platform::print::PrinterEvent::Printer, 0, "testq", stop ? "stopped" : "idle");
        times.push_back(Since(start));
        state.SetIterationTime(times.back() / 1000);
        stop = !stop;
    }
    Report(state, times);
    state.counters["subscribed"] = platform::print::PrinterWatch::Subscribed();
    platform::print::PrinterWatch::Unlisten(listener);
}

void EventLatencyAskingAgain(benchmark::State &state) {
    std::vector<double> times;
    bool stop = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        testing_support::Run({stop ? "/usr/sbin/cupsdisable" : "/usr/sbin/cupsenable", "testq"});
        const std::string wanted = stop ? "disabled" : "idle";
        for (int i = 0; i < 500; ++i) {
            if (testing_support::Run({"/usr/bin/lpstat", "-p", "testq"}).output.find(wanted) !=
                std::string::npos)
                break;
        }
        times.push_back(Since(start));
        state.SetIterationTime(times.back() / 1000);
        stop = !stop;
    }
    Report(state, times);
}

// Cancels a held job; the time until the watch tells it cancelled.
void CancelLatency(benchmark::State &state) {
    Told told;
    const int listener = platform::print::PrinterWatch::Listen(
        [&told](const platform::print::PrinterEvent &e) { told.Add(e); });
    std::vector<double> times;
    for (auto _ : state) {
        const int job = HeldJob();
        told.WaitFor(platform::print::PrinterEvent::Job, job, "", "pending-held");
        const auto start = Clock::now();
        testing_support::Run({"/usr/bin/cancel", std::to_string(job)});
        told.WaitFor(platform::print::PrinterEvent::Job, job, "", "canceled");
        times.push_back(Since(start));
        state.SetIterationTime(times.back() / 1000);
    }
    Report(state, times);
    platform::print::PrinterWatch::Unlisten(listener);
}

// The same cancel, then lpstat asked until the job is no longer waiting.
void CancelLatencyAskingAgain(benchmark::State &state) {
    std::vector<double> times;
    for (auto _ : state) {
        const std::string job = std::to_string(HeldJob());
        const auto start = Clock::now();
        testing_support::Run({"/usr/bin/cancel", job});
        for (int i = 0; i < 500; ++i) {
            if (testing_support::Run({"/usr/bin/lpstat", "-o", "testq"})
                    .output.find("testq-" + job + " ") == std::string::npos)
                break;
        }
        times.push_back(Since(start));
        state.SetIterationTime(times.back() / 1000);
    }
    Report(state, times);
}

} // namespace

int main(int argc, char **argv) {
    g_cups = new testing_support::PrivateCups;
    std::string why;
    for (int i = 1; g_cups->Ready(why) && i < kQueues; ++i)
        g_cups->AddPrinter("queue" + std::to_string(i), "");
    if (!g_cups->Ready(why)) {
        fprintf(stderr, "bench_printers: %s\n", why.c_str());
        delete g_cups;
        return 1;
    }
    benchmark::RegisterBenchmark("Describe/ours", Describe)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Describe/bare-libcups", DescribeBareLibcups)
        ->Unit(benchmark::kMillisecond);
    // Each figure is the median of 20 changes (the counters), the time
    // column their mean.
    using Figure = void (*)(benchmark::State &);
    const std::pair<const char *, Figure> figures[] = {
        {"EventLatency/watch", EventLatency},
        {"EventLatency/lpstat-again", EventLatencyAskingAgain},
        {"CancelLatency/watch", CancelLatency},
        {"CancelLatency/lpstat-again", CancelLatencyAskingAgain}};
    for (auto [name, figure] : figures)
        benchmark::RegisterBenchmark(name, figure)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete g_cups;
    return 0;
}
