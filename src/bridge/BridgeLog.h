// The bridge's log: lines on stderr, which the journal collects when the
// bridge runs as a systemd user service (each line then carries its
// priority, as the journal reads it).
#pragma once

#include <string>

namespace bridge {

enum class LogLevel { Error = 3, Warning = 4, Info = 6 };

void Log(LogLevel level, const std::string &text);

} // namespace bridge
