// The classes the bridge offers (DescribeClasses), kept ready for /version:
// read once when the bridge starts, then read again in the background when
// asked for after five seconds, so a class registered later shows up and
// the I/O thread never waits for the registry and the type libraries.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "TaskThread.h"

namespace bridge {

class ClassCatalog {
public:
    ClassCatalog();
    ~ClassCatalog();

    // The classes as last read; starts a new reading when they are old.
    nlohmann::json Classes();

private:
    struct State {
        std::mutex lock;
        nlohmann::json classes;
        std::chrono::steady_clock::time_point readAt;
        bool reading = false;
    };
    std::shared_ptr<State> m_state;
    std::unique_ptr<TaskThread> m_reader; // started on first use, after any fork
};

} // namespace bridge
