// The announcements of CUPS' D-Bus notifier on the system bus, and the
// printer watch's wait for them. For a subscription whose recipient is
// "dbus://" cupsd hands each event to its notifier, which broadcasts it at
// once as an org.cups.cupsd.Notifier signal. The watch takes a signal only
// as the sign that its own subscription has something new and then reads
// that subscription: a signal names neither the server nor the
// subscription, and anyone on the bus may send one. The bus is libdbus's
// (NotifierBusDbus.cpp, the one file that includes it).
#pragma once

#include <chrono>

namespace platform::print {

class NotifierBus {
public:
    NotifierBus();
    ~NotifierBus();
    NotifierBus(const NotifierBus &) = delete;
    NotifierBus &operator=(const NotifierBus &) = delete;

    // Connects to the system bus and listens for the notifier's signals;
    // false when there is no bus to connect to.
    bool Connect();
    void Disconnect();
    // Whether a connection is there and has not been lost.
    bool Connected() const { return m_connection != nullptr; }

    enum class Woken { Signal, Wake, Watched, Time };
    // Waits up to the time given for a signal (all that came are taken), a
    // Wake, or the watched descriptor (when not -1) to be readable or
    // closed. Without a bus it waits for the other two alone.
    Woken Wait(std::chrono::milliseconds time, int watched = -1);
    // From any thread: the current or the next Wait ends at once.
    void Wake();

private:
    // Takes the signals that have arrived; whether any was the notifier's.
    bool TakeSignals();

    void *m_connection = nullptr; // DBusConnection
    int m_wake = -1;              // an eventfd
};

} // namespace platform::print
