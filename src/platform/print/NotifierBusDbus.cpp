#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dbus/dbus.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "NotifierBus.h"

namespace platform::print {
namespace {

constexpr const char *kInterface = "org.cups.cupsd.Notifier";
constexpr const char *kMatch = "type='signal',interface='org.cups.cupsd.Notifier'";

DBusConnection *Bus(void *connection) {
    return static_cast<DBusConnection *>(connection);
}

} // namespace

NotifierBus::NotifierBus() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

NotifierBus::~NotifierBus() {
    Disconnect();
    if (m_wake >= 0)
        close(m_wake);
}

bool NotifierBus::Connect() {
    if (m_connection)
        return true;
    static std::once_flag threads;
    std::call_once(threads, [] { dbus_threads_init_default(); });
    DBusError error;
    dbus_error_init(&error);
    // A private connection: the watch's own, closed when it ends, shared
    // with nothing else in the process.
    DBusConnection *connection = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    if (connection) {
        // A bus that goes away must not end the process (libdbus's default).
        dbus_connection_set_exit_on_disconnect(connection, FALSE);
        dbus_bus_add_match(connection, kMatch, &error);
    }
    if (dbus_error_is_set(&error)) {
        dbus_error_free(&error);
        if (connection) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
        }
        return false;
    }
    m_connection = connection;
    return true;
}

void NotifierBus::Disconnect() {
    if (!m_connection)
        return;
    dbus_connection_close(Bus(m_connection));
    dbus_connection_unref(Bus(m_connection));
    m_connection = nullptr;
}

bool NotifierBus::TakeSignals() {
    DBusConnection *connection = Bus(m_connection);
    dbus_connection_read_write(connection, 0);
    bool announced = false;
    while (DBusMessage *message = dbus_connection_pop_message(connection)) {
        const char *interface = dbus_message_get_interface(message);
        announced = announced || (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_SIGNAL &&
                                  interface && strcmp(interface, kInterface) == 0);
        dbus_message_unref(message);
    }
    if (!dbus_connection_get_is_connected(connection))
        Disconnect(); // the watch reads on its own from now on
    return announced;
}

NotifierBus::Woken NotifierBus::Wait(std::chrono::milliseconds time, int watched) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + time;
    for (;;) {
        // Signals read with an earlier call wait in the connection's queue.
        if (m_connection &&
            dbus_connection_get_dispatch_status(Bus(m_connection)) == DBUS_DISPATCH_DATA_REMAINS &&
            TakeSignals())
            return Woken::Signal;
        pollfd fds[3] = {{m_wake, POLLIN, 0}, {-1, POLLIN, 0}, {watched, POLLIN, 0}};
        int bus = -1;
        if (m_connection && dbus_connection_get_unix_fd(Bus(m_connection), &bus))
            fds[1].fd = bus;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (poll(fds, 3, static_cast<int>(std::max<long>(left.count(), 0))) < 0 && errno != EINTR)
            return Woken::Time;
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            while (read(m_wake, &count, sizeof(count)) == sizeof(count)) {
            }
            return Woken::Wake;
        }
        if (fds[1].revents && m_connection && TakeSignals())
            return Woken::Signal;
        if (fds[2].revents)
            return Woken::Watched;
        if (Clock::now() >= end)
            return Woken::Time;
    }
}

void NotifierBus::Wake() {
    const uint64_t one = 1;
    if (m_wake >= 0)
        (void)!write(m_wake, &one, sizeof(one));
}

} // namespace platform::print
