#include "ClassCatalog.h"

#include "TypeDescription.h"

namespace bridge {

namespace {
constexpr auto kFreshFor = std::chrono::seconds(5);
} // namespace

ClassCatalog::ClassCatalog() : m_state(std::make_shared<State>()) {
    m_state->classes = DescribeClasses();
    m_state->readAt = std::chrono::steady_clock::now();
}

ClassCatalog::~ClassCatalog() {
    if (m_reader) {
        m_reader->Close();
        m_reader->Join();
    }
}

nlohmann::json ClassCatalog::Classes() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (!m_state->reading && std::chrono::steady_clock::now() - m_state->readAt >= kFreshFor) {
        if (!m_reader)
            m_reader = std::make_unique<TaskThread>();
        m_state->reading = true;
        m_reader->Post([state = m_state] {
            nlohmann::json classes = DescribeClasses();
            std::lock_guard<std::mutex> guard(state->lock);
            state->classes = std::move(classes);
            state->readAt = std::chrono::steady_clock::now();
            state->reading = false;
        });
    }
    return m_state->classes;
}

} // namespace bridge
