// The open page sessions, by token, on the bridge's I/O thread; the limit
// on how many may be open, the idle sweep, and the apartment threads of
// ended sessions until they have finished.
#pragma once

#include <boost/asio/io_context.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BridgeOptions.h"
#include "PageSession.h"
#include "TaskThread.h"

namespace bridge {

class SessionTable {
public:
    SessionTable(boost::asio::io_context &io, const BridgeOptions &options);
    ~SessionTable();

    // A new session, or null when the limit is reached.
    std::shared_ptr<PageSession> Open(const std::string &owner, bool socket);
    std::shared_ptr<PageSession> Find(const std::string &token) const;
    // The session whose preview addresses have this key.
    std::shared_ptr<PageSession> FindPreview(const std::string &key) const;
    void Close(const std::string &token);
    // Ends expired HTTP sessions and joins apartments that have finished.
    void Sweep();
    // Ends every session and waits up to `seconds` for their apartments;
    // false when one is still busy then (a call stuck in a dialog).
    bool CloseAll(int seconds);

    size_t Count() const { return m_sessions.size(); }
    size_t CallsInFlight() const;

private:
    void Retire(std::unique_ptr<TaskThread> apartment);

    boost::asio::io_context &m_io;
    const BridgeOptions &m_options;
    std::map<std::string, std::shared_ptr<PageSession>> m_sessions;
    std::vector<std::unique_ptr<TaskThread>> m_retired;
};

} // namespace bridge
