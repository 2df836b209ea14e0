// The states CUPS gives the pages that watch its printers and jobs, at a
// private cupsd whose D-Bus notifier announces each event on a bus of the
// test's own: however many pages watch, the bridge holds one subscription
// that it reads and one that announces; a burst of changes reaches every
// page whole and in CUPS' order; a server restarted meanwhile is subscribed
// again; the bridge's stop leaves no subscription behind.
#include <chrono>
#include <cups/cups.h>
#include <thread>

#include "BridgeFixture.h"
#include "testing/PrivateCups.h"

namespace bridge_test {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// The server's subscriptions numbered above `after`: how many are read
// (notify-pull-method ippget) and how many are sent to the D-Bus notifier.
struct Subscriptions {
    int pulled = 0, announced = 0, newest = 0;
};

Subscriptions SubscriptionsAfter(int after) {
    ipp_t *request = ippNewRequest(IPP_OP_GET_SUBSCRIPTIONS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-subscriptions", 0);
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    Subscriptions found;
    // One group of attributes a subscription, in any order.
    int id = 0;
    bool pulled = false, announced = false;
    auto count = [&] {
        found.newest = std::max(found.newest, id);
        found.pulled += id > after && pulled;
        found.announced += id > after && announced;
        id = 0;
        pulled = announced = false;
    };
    for (ipp_attribute_t *attr = response ? ippFirstAttribute(response) : nullptr; attr;
         attr = ippNextAttribute(response)) {
        const std::string name = ippGetName(attr) ? ippGetName(attr) : "";
        if (ippGetGroupTag(attr) != IPP_TAG_SUBSCRIPTION || name.empty())
            count();
        else if (name == "notify-subscription-id")
            id = ippGetInteger(attr, 0);
        else if (name == "notify-pull-method")
            pulled = true;
        else if (name == "notify-recipient-uri")
            announced = std::string(ippGetString(attr, 0, nullptr)) == "dbus://";
    }
    count();
    ippDelete(response);
    return found;
}

// Waits up to 30 s for the bridge's subscriptions to be exactly one of each.
bool WaitForOneOfEach(int after) {
    for (auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
        const Subscriptions now = SubscriptionsAfter(after);
        if (now.pulled == 1 && now.announced == 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Stops or starts a queue with one IPP request, as quickly as CUPS takes it.
bool Pause(const std::string &queue, bool pause) {
    const std::string uri = "ipp://localhost/printers/" + queue;
    ipp_t *request = ippNewRequest(pause ? IPP_OP_PAUSE_PRINTER : IPP_OP_RESUME_PRINTER);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    return cupsLastError() == IPP_STATUS_OK;
}

// The states a page was told of a printer after its first `from` events,
// each run of the same state once.
std::vector<std::string> StatesOf(const BridgeSocket &socket, size_t from,
                                  const std::string &printer) {
    std::vector<std::string> states;
    const auto &events = socket.Events();
    for (size_t i = from; i < events.size(); ++i) {
        const json &e = events[i];
        if (e.value("event", "") == "printer" && e.value("printer", "") == printer &&
            (states.empty() || states.back() != e.value("state", "")))
            states.push_back(e.value("state", ""));
    }
    return states;
}

// Asks the bridge again (its events come in meanwhile) until the page has
// been told `count` states of the printer after `from`, for up to 60 s.
std::vector<std::string> WaitForStates(BridgeSocket &socket, size_t from,
                                       const std::string &printer, size_t count) {
    for (auto end = Clock::now() + std::chrono::seconds(60);
         StatesOf(socket, from, printer).size() < count && Clock::now() < end;) {
        socket.Request({{"op", "ping"}});
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return StatesOf(socket, from, printer);
}

// The same until the page was told the state (after others, maybe: a
// server that starts tells its printers' states).
bool WaitForState(BridgeSocket &socket, size_t from, const std::string &printer,
                  const std::string &state) {
    for (auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
        const std::vector<std::string> states = StatesOf(socket, from, printer);
        if (std::find(states.begin(), states.end(), state) != states.end())
            return true;
        socket.Request({{"op", "ping"}});
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class BridgeWatch : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        m_cups = std::make_unique<testing_support::PrivateCups>();
        std::string why;
        ASSERT_TRUE(m_cups->Ready(why)) << why;
        ASSERT_TRUE(m_cups->AddPrinter("second", "")) << "the second queue";
        unsetenv("QUILLBAY_PRINTER");
    }
    void TearDown() override {
        BridgeFixture::TearDown();
        m_cups.reset();
    }

    std::unique_ptr<testing_support::PrivateCups> m_cups;
};

} // namespace

TEST_F(BridgeWatch, OneSubscriptionServesEveryPageThroughABurstAndARestart) {
    const int before = SubscriptionsAfter(0).newest;
    Start();
    BridgeSocket first(Port(), Local()), second(Port(), Local());
    ASSERT_TRUE(first.Open() && second.Open());
    EXPECT_EQ(first.Request({{"op", "watch"}, {"printers", {"testq", "second"}}})["value"],
              json({"testq", "second"}));
    EXPECT_EQ(second.Request({{"op", "watch"}, {"printers", {"testq"}}})["value"], json({"testq"}));
    // The second page's job waits in its stopped queue: its states are
    // followed too.
    ASSERT_TRUE(Pause("second", true)) << cupsLastErrorString();
    second.Request({{"op", "set"}, {"printer", "second"}});
    const int object =
        second.Request({{"op", "create"}, {"progId", "Quillbay.QuillDoc"}})["value"]["id"];
    second.Call(object, "SetPaperSize", {1050, 1480});
    EXPECT_EQ(second.Call(object, "SetPrinter", {"1"}), 1);
    second.Call(object, "PrintText", {5, 5, "waits", 0, 0, 12});
    EXPECT_EQ(second.Call(object, "SetPrinter", {"0"}), 1);
    ASSERT_TRUE(WaitForOneOfEach(before)) << "one subscription read, one announced";
    // The watched printer's state now comes first.
    ASSERT_EQ(WaitForStates(first, 0, "testq", 1), std::vector<std::string>{"idle"});
    ASSERT_EQ(WaitForStates(second, 0, "testq", 1), std::vector<std::string>{"idle"});

    // A hundred changes in quick succession reach both pages, none lost, in
    // the order CUPS made them.
    const size_t firstMark = first.Events().size(), secondMark = second.Events().size();
    std::vector<std::string> made;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Pause("testq", true) && Pause("testq", false)) << cupsLastErrorString();
        made.insert(made.end(), {"stopped", "idle"});
    }
    EXPECT_EQ(WaitForStates(first, firstMark, "testq", made.size()), made);
    EXPECT_EQ(WaitForStates(second, secondMark, "testq", made.size()), made);
    Subscriptions now = SubscriptionsAfter(before);
    EXPECT_EQ(now.pulled, 1);
    EXPECT_EQ(now.announced, 1);

    // The server goes away and comes back, once with the subscriptions it
    // keeps across a restart, once without: each time the bridge holds one
    // of each again (it cancels those it no longer reads, and no others),
    // and the pages hear of the next change.
    for (bool forget : {false, true}) {
        m_cups->Stop();
        if (forget)
            m_cups->ForgetSubscriptions();
        ASSERT_TRUE(m_cups->Start());
        EXPECT_TRUE(WaitForOneOfEach(before)) << "subscribed again, forgotten: " << forget;
        const size_t mark = first.Events().size();
        ASSERT_TRUE(Pause("testq", true)) << cupsLastErrorString();
        EXPECT_TRUE(WaitForState(first, mark, "testq", "stopped")) << json(first.Events());
        ASSERT_TRUE(Pause("testq", false)) << cupsLastErrorString();
        EXPECT_TRUE(WaitForState(first, mark, "testq", "idle")) << json(first.Events());
    }

    // The bridge's stop cancels what it held.
    StopBridge();
    now = SubscriptionsAfter(before);
    EXPECT_EQ(now.pulled + now.announced, 0);
}

} // namespace bridge_test
