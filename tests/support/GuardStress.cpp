// Eight processes lock one data guard while this one kills them with SIGKILL
// at chosen moments (waiting in Lock, holding, releasing in Unlock) and
// starts them again, round after round. Two of the eight are never killed:
// they add 1 to a shared counter under the guard by a plain read and write.
// The others read the counter under the guard and write the same value back,
// which loses the survivors' additions whenever two processes hold the guard
// at once. Each round must see the guard go on (other processes taking it)
// within a bound; at the end the counter must equal the survivors' additions.
#include "GuardStress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/DataGuard.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kSurvivors = 2;
constexpr auto kRoundBound = std::chrono::seconds(10);

enum State { kIdle, kWaiting, kHolding, kReleasing };

// The memory every process of the run shares.
struct Board {
    std::atomic<uint64_t> acquisitions;
    uint64_t counter; // changed only under the guard
    std::atomic<int> stop;
    std::atomic<int> state[kWorkers];
    uint64_t added[kSurvivors]; // written by each survivor as it ends
};

using Clock = std::chrono::steady_clock;

struct Random {
    uint64_t value;
    unsigned Next(unsigned bound) {
        value ^= value << 13;
        value ^= value >> 7;
        value ^= value << 17;
        return static_cast<unsigned>(value % bound);
    }
};

// The processor's spin-wait hint where it has one (as SpinWait's), else a
// plain turn of the loop.
void Pause(unsigned turns) {
    for (unsigned i = 0; i < turns; ++i) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#else
        asm volatile("" ::: "memory");
#endif
    }
}

// One worker's life: lock, work on the counter, unlock, until told to stop
// (survivors) or killed (the others).
int Work(const char *name, Board *board, int slot) {
    DataGuard guard(name);
    if (!guard.IsUsable())
        return 5;
    Random random{static_cast<uint64_t>(getpid()) * 2654435761u + 1};
    const bool survivor = slot < kSurvivors;
    uint64_t added = 0;
    while (!survivor || !board->stop.load()) {
        board->state[slot] = kWaiting;
        if (!guard.Lock())
            return 6;
        board->state[slot] = kHolding;
        board->acquisitions.fetch_add(1);
        const bool twice = random.Next(4) == 0;
        if (twice)
            guard.Lock();
        const uint64_t seen = *static_cast<volatile uint64_t *>(&board->counter);
        Pause(random.Next(survivor ? 20 : 400));
        *static_cast<volatile uint64_t *>(&board->counter) = survivor ? seen + 1 : seen;
        added += survivor ? 1 : 0;
        board->state[slot] = kReleasing;
        if (twice)
            guard.Unlock();
        if (!guard.Unlock())
            return 7;
        board->state[slot] = kIdle;
        if (random.Next(8) == 0)
            usleep(random.Next(200));
    }
    board->added[slot] = added;
    return 0;
}

pid_t Start(const char *name, Board *board, int slot) {
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A worker never outlives the run.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(8);
        _exit(Work(name, board, slot));
    }
    return pid;
}

// Waits for a victim to be in the wanted state (a while at most), then kills
// it; answers the state it was seen in last.
int KillIn(Board *board, int slot, pid_t pid, int wanted) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(20);
    int seen = board->state[slot];
    while (seen != wanted && Clock::now() < until)
        seen = board->state[slot];
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    board->state[slot] = kIdle;
    return seen;
}

bool GoesOn(Board *board, Clock::duration &took) {
    const Clock::time_point start = Clock::now();
    const uint64_t from = board->acquisitions.load();
    while (board->acquisitions.load() < from + kWorkers) {
        if (Clock::now() - start > kRoundBound)
            return false;
        usleep(100);
    }
    took = Clock::now() - start;
    return true;
}

void EndAll(pid_t *pids) {
    for (int i = 0; i < kWorkers; ++i) {
        if (pids[i] > 0) {
            kill(pids[i], SIGKILL);
            waitpid(pids[i], nullptr, 0);
        }
    }
}

Board *MapBoard(const char *file) {
    int fd = open(file, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, sizeof(Board)) != 0)
        return nullptr;
    void *memory = mmap(nullptr, sizeof(Board), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<Board *>(memory);
}

// Asks the survivors to stop and collects what they added; false when one
// fails or does not end within the bound.
bool StopSurvivors(Board *board, pid_t *pids, uint64_t &added) {
    board->stop = 1;
    const Clock::time_point until = Clock::now() + kRoundBound;
    added = 0;
    for (int i = 0; i < kSurvivors; ++i) {
        int status = 0;
        while (waitpid(pids[i], &status, WNOHANG) == 0) {
            if (Clock::now() > until)
                return false;
            usleep(1000);
        }
        pids[i] = 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return false;
        added += board->added[i];
    }
    return true;
}

} // namespace

int RunStress(const char *name, const char *file, int rounds) {
    Board *board = MapBoard(file);
    if (!board)
        return 2;
    // Held (never locked) for the whole run, so the guard's objects are let
    // go when it ends, though its users were killed.
    DataGuard last(name);
    pid_t pids[kWorkers] = {};
    for (int i = 0; i < kWorkers; ++i)
        pids[i] = Start(name, board, i);
    int killedIn[4] = {};
    Clock::duration longest{};
    Random random{static_cast<uint64_t>(getpid()) + 7};
    for (int round = 0; round < rounds; ++round) {
        const int slot = kSurvivors + static_cast<int>(random.Next(kWorkers - kSurvivors));
        ++killedIn[KillIn(board, slot, pids[slot], kWaiting + round % 3)];
        pids[slot] = Start(name, board, slot);
        Clock::duration took{};
        if (!GoesOn(board, took)) {
            printf("round %d: the guard stood still for %lld s\n", round,
                   static_cast<long long>(kRoundBound.count()));
            EndAll(pids);
            return 3;
        }
        longest = std::max(longest, took);
    }
    uint64_t added = 0;
    const bool stopped = StopSurvivors(board, pids, added);
    EndAll(pids);
    printf("%d rounds; killed waiting %d, holding %d, releasing %d, between %d; longest "
           "round %lld ms; counter %llu, survivors added %llu\n",
           rounds, killedIn[kWaiting], killedIn[kHolding], killedIn[kReleasing], killedIn[kIdle],
           static_cast<long long>(
               std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()),
           static_cast<unsigned long long>(board->counter), static_cast<unsigned long long>(added));
    if (!stopped)
        return 4;
    return board->counter == added ? 0 : 5;
}
