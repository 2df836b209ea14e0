// The watch on CUPS: one subscription on the server for every printer's and
// job's state changes, read with Get-Notifications (the ippget pull
// method), renewed while it is used and cancelled when the last listener
// goes. It is read when the server has something new: a server on this
// machine is given a second subscription whose events its D-Bus notifier
// announces on the system bus (NotifierBus.h), and each announcement has
// the subscription read at once. Where nothing announces the events (a
// server elsewhere, no bus, a notifier that is never heard), the
// subscription is read every 100 ms. A server that takes no subscription
// is polled instead: its printers' states and its jobs', with what changed
// reported. The server's side is WatchConnection.h.
#include <map>
#include <mutex>
#include <thread>

#include "NotifierBus.h"
#include "PrinterWatch.h"
#include "WatchConnection.h"

namespace platform::print {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Reading without announcements.
constexpr milliseconds kReadEvery(100);
// Reading between announcements, in case one was missed (another account's
// notifier may be the one that announces, with its own choice of events)
// and to learn that the server went: before the first announcement came,
// and once announcements are heard.
constexpr milliseconds kCheckArmed(1000);
constexpr milliseconds kCheckHeard(5000);
// Polling a server without subscriptions, and asking it for one again.
constexpr milliseconds kPollEvery(500);
constexpr auto kRenewEvery = std::chrono::seconds(120);
// The last requests of a watch that ends: its subscriptions cancelled.
constexpr milliseconds kEndWithin(500);

class Watch {
public:
    static Watch &Instance() {
        static Watch *watch = new Watch; // lives as long as the process
        return *watch;
    }

    int Listen(PrinterWatch::Listener listener) {
        std::lock_guard starting(m_starting); // one start or end at a time
        std::unique_lock lock(m_lock);
        const int number = ++m_serial;
        m_listeners[number] = std::move(listener);
        if (!m_thread.joinable()) {
            m_stop = false;
            lock.unlock();
            // The connection is for the server this thread asks, and the
            // subscription is made here, so it exists before the caller's
            // next job is sent.
            m_server = WatchConnection::ForThisThread();
            const int id = m_server->Subscribe(nullptr);
            lock.lock();
            m_subscription = id;
            m_thread = std::thread([this] { Run(); });
        }
        return number;
    }

    void Unlisten(int number) {
        std::lock_guard starting(m_starting);
        std::thread ending;
        {
            std::lock_guard lock(m_lock);
            m_listeners.erase(number);
            if (!m_listeners.empty() || !m_thread.joinable())
                return;
            // A request in progress gives up first, so the watch sees the
            // stop as soon as it is back.
            m_server->Abort();
            m_stop = true;
            ending = std::move(m_thread);
        }
        m_bus.Wake();
        ending.join();
        m_server.reset();
    }

    bool Subscribed() {
        std::lock_guard lock(m_lock);
        return m_subscription > 0;
    }

private:
    // How the watch learns that its subscription has news.
    enum class Bell {
        None,  // no announcements: read every 100 ms
        Armed, // the notifier's subscription is there, nothing heard yet
        Heard, // announcements come
        Deaf,  // events came that nothing announced
    };

    void Tell(const PrinterEvent &event) {
        std::lock_guard lock(m_lock);
        for (auto &[number, listener] : m_listeners)
            listener(event);
    }

    bool Stopping() {
        std::lock_guard lock(m_lock);
        return m_stop;
    }

    void Publish(int subscription) {
        std::lock_guard lock(m_lock);
        m_subscription = subscription;
    }

    milliseconds Interval(int subscription) const {
        if (subscription <= 0)
            return kPollEvery;
        return m_bell == Bell::Armed   ? kCheckArmed
               : m_bell == Bell::Heard ? kCheckHeard
                                       : kReadEvery;
    }

    void Run() {
        int sequence = 1;
        Clock::time_point renewed = Clock::now();
        int subscription;
        {
            std::lock_guard lock(m_lock);
            subscription = m_subscription;
        }
        while (m_bus.Wait(milliseconds(0)) == NotifierBus::Woken::Wake) {
        } // a wake left from the last watch's end
        if (subscription > 0)
            ArmBell();
        bool timed = false; // this turn comes from the clock, not a signal
        while (!Stopping()) {
            if (subscription > 0) {
                if (!ReadEvents(subscription, sequence, timed)) {
                    Forget(subscription); // the server went, or dropped it
                    subscription = 0;
                } else if (Clock::now() - renewed > kRenewEvery && Renew(subscription)) {
                    renewed = Clock::now();
                }
            } else {
                // The states are asked after the subscription is made: a
                // change between the two is then among its events.
                subscription = m_server->Subscribe(nullptr);
                Poll();
                if (subscription > 0) {
                    sequence = 1;
                    renewed = Clock::now();
                    ArmBell();
                    CancelStale(subscription);
                }
            }
            Publish(subscription);
            const NotifierBus::Woken woken =
                m_bus.Wait(Interval(subscription), m_server->Descriptor());
            timed = woken == NotifierBus::Woken::Time;
            // The server closed the connection (or sent what no request
            // asked for): read at once over a new one, and learn whether
            // the server is still there.
            if (woken == NotifierBus::Woken::Watched)
                m_server->Close();
            if (m_bell != Bell::None && !m_bus.Connected())
                m_bell = Bell::None; // the bus went
            else if (woken == NotifierBus::Woken::Signal && m_bell != Bell::None)
                m_bell = Bell::Heard;
        }
        End(subscription);
    }

    // The notifier's subscription, at a server on this machine whose
    // announcements the system bus brings.
    void ArmBell() {
        m_bell = Bell::None;
        if (!m_server->IsLocal() || !m_bus.Connect())
            return;
        if ((m_bellSubscription = m_server->Subscribe("dbus://")) > 0)
            m_bell = Bell::Armed;
    }

    bool Renew(int subscription) {
        return m_server->Renew(subscription) &&
               (m_bellSubscription <= 0 || m_server->Renew(m_bellSubscription));
    }

    // Subscriptions the watch no longer reads: cancelled once the server
    // answers again (a server keeps them across a restart).
    void Forget(int subscription) {
        // What the page was told since the last poll came from events: the
        // next poll tells every state again.
        m_polled.clear();
        m_stale.push_back(subscription);
        if (m_bellSubscription > 0)
            m_stale.push_back(m_bellSubscription);
        m_bellSubscription = 0;
        m_bell = Bell::None;
    }

    // A server that restarted new may have given a stale number to one of
    // the watch's subscriptions now.
    void CancelStale(int subscription) {
        for (int stale : m_stale) {
            if (stale != subscription && stale != m_bellSubscription)
                m_server->Cancel(stale);
        }
        m_stale.clear();
    }

    void End(int subscription) {
        m_server->Finish(Clock::now() + kEndWithin);
        if (subscription > 0)
            m_stale.push_back(subscription);
        if (m_bellSubscription > 0)
            m_stale.push_back(m_bellSubscription);
        m_bellSubscription = 0;
        CancelStale(0);
        m_server->Close();
        m_bus.Disconnect();
        m_bell = Bell::None;
        Publish(0);
    }

    // Reads the subscription's new events and tells them; false when the
    // server does not answer, has no such subscription or stops.
    bool ReadEvents(int subscription, int &sequence, bool timed) {
        std::vector<PrinterEvent> events;
        WatchConnection::ReadNews news;
        if (!m_server->Read(subscription, sequence, events, news))
            return false;
        for (const PrinterEvent &event : events)
            Tell(event);
        // Events the clock found that nothing announced: announcements do
        // not come (the next one that does brings them back).
        if (timed && !events.empty() && m_bell != Bell::None)
            m_bell = Bell::Deaf;
        // The server dropped events before they were read: the states now
        // stand for them.
        if (news.lost) {
            m_polled.clear();
            Poll();
        }
        return !news.stopping;
    }

    // Without a subscription: every printer's and recent job's state, with
    // those that changed since the last poll reported.
    void Poll() {
        for (const PrinterEvent &event : m_server->States()) {
            const std::string key =
                event.kind == PrinterEvent::Job ? std::to_string(event.job) : "p:" + event.printer;
            std::string seen = event.state + "|" + event.message;
            for (const std::string &reason : event.reasons)
                seen += "|" + reason;
            if (m_polled[key] != seen) {
                m_polled[key] = seen;
                Tell(event);
            }
        }
    }

    std::mutex m_starting;
    std::mutex m_lock;
    std::map<int, PrinterWatch::Listener> m_listeners;
    int m_serial = 0;
    int m_subscription = 0;
    bool m_stop = false;
    std::thread m_thread;
    // Made by Listen before the thread starts, ended by Unlisten after it.
    std::unique_ptr<WatchConnection> m_server;
    NotifierBus m_bus; // Wake from any thread; the rest on the watch's
    // The watch thread's own.
    Bell m_bell = Bell::None;
    int m_bellSubscription = 0;
    std::vector<int> m_stale;
    std::map<std::string, std::string> m_polled;
};

} // namespace

bool IsFinalJobState(const std::string &state) {
    return state == "canceled" || state == "aborted" || state == "completed";
}

int PrinterWatch::Listen(Listener listener) {
    return Watch::Instance().Listen(std::move(listener));
}

void PrinterWatch::Unlisten(int number) {
    Watch::Instance().Unlisten(number);
}

bool PrinterWatch::Subscribed() {
    return Watch::Instance().Subscribed();
}

} // namespace platform::print
