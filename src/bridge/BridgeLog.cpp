#include "BridgeLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace bridge {
namespace {

const char *LevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Error:
        return "error";
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Info:
        return "info";
    }
    return "";
}

} // namespace

void Log(LogLevel level, const std::string &text) {
    static std::mutex lock;
    static const bool journal = getenv("JOURNAL_STREAM") != nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (journal) {
        // The journal stamps the time itself; "<N>" gives the line's priority.
        fprintf(stderr, "<%d>%s\n", static_cast<int>(level), text.c_str());
    } else {
        char stamp[32];
        time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        fprintf(stderr, "%s quillbay-bridge %s: %s\n", stamp, LevelName(level), text.c_str());
    }
    fflush(stderr);
}

} // namespace bridge
