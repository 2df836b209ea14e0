// The connections open at once, on the I/O thread: their number against the
// limit; which of them are waiting for a request, so that at the limit the
// one that has waited longest makes room for a new page (one that never got
// past its first request first, then one kept alive between requests)
// rather than the page being refused; and all of them, for an orderly stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

namespace bridge {

// What the table asks of a connection.
class Connection {
public:
    virtual ~Connection() = default;
    // Closes the connection now: an idle one making room for a page.
    virtual void Drop() = 0;
    // The bridge is stopping: the connection ends once the replies it owes
    // are written (a WebSocket closes with 1001).
    virtual void Shutdown() = 0;
};

class ConnectionTable {
public:
    // What a connection is doing.
    enum class Phase {
        FirstRequest, // reading its first request
        Waiting,      // kept alive, waiting for its next request
        Busy,         // reading a later request, being answered, or a WebSocket
    };

    explicit ConnectionTable(size_t limit) : m_limit(limit) {}

    // Whether a new connection may come in: there is room, or room was made
    // by dropping the connection that has waited longest for a request.
    bool MakeRoom();
    size_t Count() const { return m_entries.size(); }
    size_t Limit() const { return m_limit; }
    // Tells every connection that the bridge stops.
    void ShutdownAll();

private:
    friend class ConnectionTicket;
    struct Entry {
        std::weak_ptr<Connection> connection;
        Phase phase = Phase::FirstRequest;
        std::chrono::steady_clock::time_point since;
    };
    bool DropLongestIn(Phase phase);

    size_t m_limit;
    uint64_t m_next = 1;
    std::map<uint64_t, Entry> m_entries;
};

// Holds one place in the table for the life of a connection; the HTTP
// connection hands it on to the WebSocket it becomes.
class ConnectionTicket {
public:
    explicit ConnectionTicket(std::shared_ptr<ConnectionTable> table);
    ~ConnectionTicket();
    ConnectionTicket(ConnectionTicket &&other) noexcept;
    ConnectionTicket &operator=(ConnectionTicket &&) = delete;

    // The connection that holds the place now.
    void Serves(std::weak_ptr<Connection> connection);
    void Enter(ConnectionTable::Phase phase);

private:
    ConnectionTable::Entry *Find();

    std::shared_ptr<ConnectionTable> m_table;
    uint64_t m_id = 0;
};

} // namespace bridge
