#include "SessionTable.h"

#include <chrono>
#include <thread>

#include "BridgeFiles.h"
#include "BridgeLog.h"

namespace bridge {

SessionTable::SessionTable(boost::asio::io_context &io, const BridgeOptions &options)
    : m_io(io), m_options(options) {}

SessionTable::~SessionTable() {
    CloseAll(5);
}

std::shared_ptr<PageSession> SessionTable::Open(const std::string &owner, bool socket) {
    if (m_sessions.size() >= m_options.maxSessions)
        return nullptr;
    std::string token = RandomToken(16);
    auto session = std::make_shared<PageSession>(token, owner, socket, m_options, m_io);
    session->Start();
    m_sessions[token] = session;
    return session;
}

std::shared_ptr<PageSession> SessionTable::Find(const std::string &token) const {
    auto it = m_sessions.find(token);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<PageSession> SessionTable::FindPreview(const std::string &key) const {
    for (const auto &[token, session] : m_sessions) {
        if (!key.empty() && session->PreviewKey() == key)
            return session;
    }
    return nullptr;
}

void SessionTable::Close(const std::string &token) {
    auto it = m_sessions.find(token);
    if (it == m_sessions.end())
        return;
    std::shared_ptr<PageSession> session = std::move(it->second);
    m_sessions.erase(it);
    Retire(session->Close());
}

void SessionTable::Retire(std::unique_ptr<TaskThread> apartment) {
    if (apartment)
        m_retired.push_back(std::move(apartment));
}

void SessionTable::Sweep() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::string> expired;
    for (const auto &[token, session] : m_sessions) {
        if (session->Expired(now))
            expired.push_back(token);
    }
    for (const std::string &token : expired) {
        Log(LogLevel::Info, "session of " + Find(token)->Owner() + " ended after idle time");
        Close(token);
    }
    std::erase_if(m_retired, [](const std::unique_ptr<TaskThread> &apartment) {
        if (!apartment->Finished())
            return false;
        apartment->Join();
        return true;
    });
}

bool SessionTable::CloseAll(int seconds) {
    while (!m_sessions.empty())
        Close(m_sessions.begin()->first);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        Sweep();
        if (m_retired.empty())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Log(LogLevel::Warning, std::to_string(m_retired.size()) + " sessions still busy at the end");
    for (auto &apartment : m_retired)
        (void)apartment.release(); // left to the process's end
    m_retired.clear();
    return false;
}

size_t SessionTable::CallsInFlight() const {
    size_t calls = 0;
    for (const auto &[token, session] : m_sessions)
        calls += session->CallsInFlight();
    return calls;
}

} // namespace bridge
