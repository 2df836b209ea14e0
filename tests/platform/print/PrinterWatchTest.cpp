// A CUPS server that refuses event subscriptions is polled: a printer
// stopped and started again, and a job from its start to its end, are still
// told to the listener.
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

#include "platform/print/PrinterWatch.h"
#include "testing/PrivateCups.h"
#include "testing/TestSupport.h"

using platform::print::PrinterEvent;
using platform::print::PrinterWatch;

namespace {

class Heard {
public:
    void Add(const PrinterEvent &event) {
        std::lock_guard lock(m_lock);
        m_events.push_back(event);
        m_changed.notify_all();
    }
    // Waits up to 10 s for an event that matches.
    template <typename Match> bool WaitFor(Match match) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
            for (const PrinterEvent &event : m_events) {
                if (match(event))
                    return true;
            }
            return false;
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<PrinterEvent> m_events;
};

} // namespace

TEST(PrinterWatchPolling, AServerWithoutSubscriptionsIsPolledForPrintersAndJobs) {
    testing_support::PrivateCups cups(testing_support::PrivateCups::kNoSubscriptions);
    std::string why;
    ASSERT_TRUE(cups.Ready(why)) << why;
    Heard heard;
    const int listener = PrinterWatch::Listen([&heard](const PrinterEvent &e) { heard.Add(e); });
    EXPECT_FALSE(PrinterWatch::Subscribed());

    testing_support::Run({"/usr/sbin/cupsdisable", "testq"});
    EXPECT_TRUE(heard.WaitFor([](const PrinterEvent &e) {
        return e.kind == PrinterEvent::Printer && e.printer == "testq" && e.state == "stopped";
    }));
    testing_support::Run({"/usr/sbin/cupsenable", "testq"});
    EXPECT_TRUE(heard.WaitFor([](const PrinterEvent &e) {
        return e.kind == PrinterEvent::Printer && e.printer == "testq" && e.state == "idle";
    }));

    const std::string page = testing_support::MakeTempDir("watch-") + "/page.pdf";
    ASSERT_EQ(testing_support::Run(
                  {"/usr/bin/gs", "-q", "-sDEVICE=pdfwrite", "-o", page, "-c", "showpage"})
                  .exitCode,
              0);
    const std::string sent = testing_support::Run({"/usr/bin/lp", "-d", "testq", page}).output;
    // "request id is testq-N (1 file(s))"
    const size_t dash = sent.find("testq-");
    ASSERT_NE(dash, std::string::npos) << sent;
    const int job = atoi(sent.c_str() + dash + 6);
    EXPECT_TRUE(heard.WaitFor([job](const PrinterEvent &e) {
        return e.kind == PrinterEvent::Job && e.job == job && e.printer == "testq" &&
               e.state == "completed";
    }));
    EXPECT_FALSE(PrinterWatch::Subscribed()); // still polling
    PrinterWatch::Unlisten(listener);
}
