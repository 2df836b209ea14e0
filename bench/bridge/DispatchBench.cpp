// A call's round trip on a connection of its own, through the dispatcher
// (the connection handed to the account's bridge on its local socket)
// against the same call to a bridge listening on its port itself, in the
// same run, the two interleaved. Each round trip opens a connection, sends
// one POST /call (BeginCharOf on an object of an HTTP session), reads the
// reply and closes: the dispatcher's cost is per connection, so this is
// where it shows. A kept-alive call on each is measured too, for scale.
//
//   bench_dispatch [ROUNDS]      (default 2000)
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "testing/BridgeProcess.h"
#include "testing/TestSupport.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

int Connect(unsigned short port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string Post(unsigned short port, const std::string &token, const std::string &body,
                 bool keepAlive) {
    return "POST /call HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nAuthorization: Bearer " + token + "\r\nContent-Type: text/plain\r\n" +
           (keepAlive ? "" : "Connection: close\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One reply's body, read by its Content-Length; empty on failure.
std::string ReadReply(int fd) {
    std::string data;
    char buffer[4096];
    size_t end = std::string::npos, length = 0;
    while (true) {
        if (end == std::string::npos) {
            end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                size_t at = data.find("Content-Length: ");
                length = at == std::string::npos ? 0 : strtoul(data.c_str() + at + 16, nullptr, 10);
                end += 4;
            }
        }
        if (end != std::string::npos && data.size() >= end + length)
            return data.substr(end, length);
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return "";
        data.append(buffer, static_cast<size_t>(n));
    }
}

std::string Exchange(int fd, const std::string &request) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return "";
    return ReadReply(fd);
}

// A bridge to measure: its port, token, and a session holding object 1.
struct Target {
    const char *name = "";
    unsigned short port = 0;
    std::string token;
    std::string call;
    std::vector<double> fresh, kept;
    int keptFd = -1;
};

bool Prepare(Target &target) {
    int fd = Connect(target.port);
    if (fd < 0)
        return false;
    json created =
        json::parse(Exchange(fd, Post(target.port, target.token,
                                      R"({"op":"create","progId":"Quillbay.QuillDoc"})", false)),
                    nullptr, false);
    close(fd);
    if (!created.is_object() || !created.contains("session"))
        return false;
    target.call = json{{"session", created["session"]},
                       {"op", "call"},
                       {"object", 1},
                       {"member", "BeginCharOf"},
                       {"args", {"1", 6, "0"}}}
                      .dump();
    target.keptFd = Connect(target.port);
    return target.keptFd >= 0;
}

bool Round(Target &target) {
    auto start = Clock::now();
    int fd = Connect(target.port);
    if (fd < 0)
        return false;
    const bool ok =
        Exchange(fd, Post(target.port, target.token, target.call, false)).find("000001") !=
        std::string::npos;
    close(fd);
    target.fresh.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    start = Clock::now();
    const bool kept = Exchange(target.keptFd, Post(target.port, target.token, target.call, true))
                          .find("000001") != std::string::npos;
    target.kept.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    return ok && kept;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[static_cast<size_t>(p * (values.size() - 1))];
}

} // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : 2000;
    const std::string dir = testing_support::MakeTempDir("bench-dispatch-");
    setenv("QUILLBAY_HOME", (dir + "/home").c_str(), 1);
    setenv("QUILLBAY_UI", "headless", 1);
    testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH});
    // This account's runtime folder under a root of the benchmark's own.
    const std::string runtime = dir + "/run", mine = runtime + "/" + std::to_string(getuid());
    mkdir(runtime.c_str(), 0755);
    mkdir(mine.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", mine.c_str(), 1);

    Target direct, dispatched;
    direct.name = "direct TCP";
    dispatched.name = "dispatcher";
    {
        // One bridge per account at a time: the direct one first.
        testing_support::BridgeProcess bridge(BRIDGE_PATH);
        direct.port = bridge.Port();
        direct.token = bridge.Token();
        testing_support::BridgeProcess dispatcher(BRIDGE_PATH,
                                                  {"--dispatch", "--runtime-root", runtime});
        dispatched.port = dispatcher.Port();
        if (!bridge.Ready() || !dispatcher.Ready() || !Prepare(direct)) {
            fprintf(stderr, "bench_dispatch: the bridge or the dispatcher did not start\n");
            return 1;
        }
        // The second bridge of this account takes its own home, so both run.
        setenv("QUILLBAY_HOME", (dir + "/home2").c_str(), 1);
        testing_support::Run({REGSVR_PATH, "/s", QUILLBAY_MODULE_PATH});
        testing_support::BridgeProcess behind(BRIDGE_PATH, {"--socket-only"}, dispatched.port);
        dispatched.token = behind.Token();
        if (!behind.Ready() || !Prepare(dispatched)) {
            fprintf(stderr, "bench_dispatch: the bridge behind the dispatcher did not start\n%s",
                    behind.Log().c_str());
            return 1;
        }
        for (int i = 0; i < 50; ++i) // warm-up
            Round(direct), Round(dispatched);
        direct.fresh.clear(), direct.kept.clear(), dispatched.fresh.clear(),
            dispatched.kept.clear();
        for (int i = 0; i < rounds; ++i) {
            if (!Round(direct) || !Round(dispatched)) {
                fprintf(stderr, "bench_dispatch: a call failed\n");
                return 1;
            }
        }
        close(direct.keptFd);
        close(dispatched.keptFd);
    }
    printf("%d rounds, microseconds per call (median, 90th percentile)\n", rounds);
    for (Target *t : {&direct, &dispatched})
        printf("  %-12s new connection %8.1f %8.1f   kept-alive %8.1f %8.1f\n", t->name,
               Median(t->fresh), Percentile(t->fresh, 0.9), Median(t->kept),
               Percentile(t->kept, 0.9));
    printf("  the dispatcher adds %.1f us per connection (goal: at most 200)\n",
           Median(dispatched.fresh) - Median(direct.fresh));
    testing_support::RemoveTree(dir);
    return 0;
}
