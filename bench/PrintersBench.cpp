// The printers a page lists and the states it is told, at a private cupsd
// with 20 driverless queues, each figure beside a peer in the same run:
//   Describe: DescribePrinters() (every queue's state, papers, resolutions,
//     colour and duplex, as bridge.printers() answers) against bare libcups
//     doing the least any lister does, cupsGetDests2 and cupsCopyDestInfo
//     for each queue;
//   EventLatency: from cupsdisable's request to the watch's printer event,
//     against the same request followed by lpstat until it shows the
//     change (how soon a program that asks again learns it).
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cups/cups.h>
#include <mutex>
#include <string>

#include "platform/print/PrinterWatch.h"
#include "platform/print/Printers.h"
#include "testing/PrivateCups.h"
#include "testing/TestSupport.h"

namespace {

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

// Stops and starts a queue; the time until the watch tells each change.
void EventLatency(benchmark::State &state) {
    std::mutex lock;
    std::condition_variable told;
    std::string last;
    const int listener =
        platform::print::PrinterWatch::Listen([&](const platform::print::PrinterEvent &e) {
            if (e.kind != platform::print::PrinterEvent::Printer || e.printer != "testq")
                return;
            std::lock_guard held(lock);
            last = e.state;
            told.notify_all();
        });
    bool stop = true;
    for (auto _ : state) {
        const std::string wanted = stop ? "stopped" : "idle";
        testing_support::Run({stop ? "/usr/sbin/cupsdisable" : "/usr/sbin/cupsenable", "testq"});
        std::unique_lock held(lock);
        told.wait_for(held, std::chrono::seconds(5), [&] { return last == wanted; });
        stop = !stop;
    }
    state.counters["subscribed"] = platform::print::PrinterWatch::Subscribed();
    platform::print::PrinterWatch::Unlisten(listener);
}

void EventLatencyAskingAgain(benchmark::State &state) {
    bool stop = true;
    for (auto _ : state) {
        testing_support::Run({stop ? "/usr/sbin/cupsdisable" : "/usr/sbin/cupsenable", "testq"});
        const std::string wanted = stop ? "disabled" : "idle";
        for (int i = 0; i < 500; ++i) {
            if (testing_support::Run({"/usr/bin/lpstat", "-p", "testq"}).output.find(wanted) !=
                std::string::npos)
                break;
        }
        stop = !stop;
    }
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
    benchmark::RegisterBenchmark("EventLatency/watch", EventLatency)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
    benchmark::RegisterBenchmark("EventLatency/lpstat-again", EventLatencyAskingAgain)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete g_cups;
    return 0;
}
