#include "ConnectionTable.h"

#include <vector>

namespace bridge {

bool ConnectionTable::MakeRoom() {
    return m_entries.size() < m_limit || DropLongestIn(Phase::FirstRequest) ||
           DropLongestIn(Phase::Waiting);
}

bool ConnectionTable::DropLongestIn(Phase phase) {
    auto longest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second.phase == phase &&
            (longest == m_entries.end() || it->second.since < longest->second.since))
            longest = it;
    }
    if (longest == m_entries.end())
        return false;
    // The place is free at once; the connection goes as its read ends.
    std::shared_ptr<Connection> connection = longest->second.connection.lock();
    m_entries.erase(longest);
    if (connection)
        connection->Drop();
    return true;
}

void ConnectionTable::ShutdownAll() {
    std::vector<std::shared_ptr<Connection>> open;
    for (auto &[id, entry] : m_entries) {
        if (auto connection = entry.connection.lock())
            open.push_back(std::move(connection));
    }
    for (auto &connection : open)
        connection->Shutdown();
}

ConnectionTicket::ConnectionTicket(std::shared_ptr<ConnectionTable> table)
    : m_table(std::move(table)), m_id(m_table->m_next++) {
    m_table->m_entries[m_id].since = std::chrono::steady_clock::now();
}

ConnectionTicket::~ConnectionTicket() {
    if (m_table)
        m_table->m_entries.erase(m_id);
}

ConnectionTicket::ConnectionTicket(ConnectionTicket &&other) noexcept
    : m_table(std::move(other.m_table)), m_id(other.m_id) {}

ConnectionTable::Entry *ConnectionTicket::Find() {
    if (!m_table)
        return nullptr;
    auto it = m_table->m_entries.find(m_id);
    return it == m_table->m_entries.end() ? nullptr : &it->second;
}

void ConnectionTicket::Serves(std::weak_ptr<Connection> connection) {
    if (ConnectionTable::Entry *entry = Find())
        entry->connection = std::move(connection);
}

void ConnectionTicket::Enter(ConnectionTable::Phase phase) {
    if (ConnectionTable::Entry *entry = Find()) {
        entry->phase = phase;
        entry->since = std::chrono::steady_clock::now();
    }
}

} // namespace bridge
