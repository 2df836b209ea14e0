// Named events: a futex word in a shared memory segment.
//
// Any process may die at any moment while it uses the event, so the event
// keeps no lock and nothing a dead user could leave half changed: its state
// is one word (set or clear) changed by single atomic operations, and a
// count of sleepers that only tells a setter whether to wake anyone. A
// sleeper that dies leaves the count raised, which costs later setters a
// needless wake and nothing else. A setter that dies between setting the
// word and waking leaves the word set; sleepers sleep in bounded slices and
// find it on their next look.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <new>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "NamedObjects.h"
#include "SharedSegment.h"
#include "winbase.h"

namespace platform {
namespace {

struct SharedEventState {
    std::atomic<uint32_t> signalled; // the futex word: 1 set, 0 clear
    std::atomic<uint32_t> sleepers;  // waiters asleep on the word, or about to be
    uint32_t manualReset;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the word is shared between processes");

struct EventInit {
    bool manualReset;
    bool initialState;
};

void InitialiseEvent(void *memory, const void *context) {
    auto *state = new (memory) SharedEventState;
    auto *init = static_cast<const EventInit *>(context);
    state->signalled.store(init->initialState ? 1 : 0);
    state->sleepers.store(0);
    state->manualReset = init->manualReset ? 1 : 0;
}

// The longest a sleeper sleeps before it looks at the word again.
constexpr std::chrono::milliseconds kSlice{50};

void SleepWhileClear(std::atomic<uint32_t> &word, std::chrono::nanoseconds most) {
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(most.count() / 1000000000);
    timeout.tv_nsec = static_cast<long>(most.count() % 1000000000);
    // Shared between processes, so not a private futex.
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAIT, 0, &timeout, nullptr, 0);
}

void Wake(std::atomic<uint32_t> &word, int count) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

class NamedEvent : public KernelObject {
public:
    explicit NamedEvent(std::shared_ptr<SharedSegment> segment) : m_segment(std::move(segment)) {}

    bool IsShared() const override { return true; }

    bool WaitShared(DWORD milliseconds) override {
        SharedEventState &state = State();
        if (TryTake(state))
            return true;
        if (milliseconds == 0)
            return false;
        using Clock = std::chrono::steady_clock;
        const bool forever = milliseconds == INFINITE;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            std::chrono::nanoseconds most = kSlice;
            if (!forever)
                most = std::min(most, std::chrono::nanoseconds(deadline - Clock::now()));
            if (most.count() > 0) {
                // Counted before the word is looked at again by the futex, so a
                // setter either sees the sleeper or the sleeper sees the word.
                state.sleepers.fetch_add(1);
                SleepWhileClear(state.signalled, most);
                state.sleepers.fetch_sub(1);
            }
            if (TryTake(state))
                return true;
            if (!forever && Clock::now() >= deadline)
                return false;
        }
    }

    void Set(bool set) {
        SharedEventState &state = State();
        if (!set) {
            state.signalled.store(0);
            return;
        }
        state.signalled.store(1);
        if (state.sleepers.load() > 0)
            Wake(state.signalled, state.manualReset ? INT_MAX : 1);
    }

private:
    SharedEventState &State() const {
        return *static_cast<SharedEventState *>(m_segment->Memory());
    }

    // A manual-reset event stays set for every waiter; an auto-reset one is
    // taken by exactly one.
    static bool TryTake(SharedEventState &state) {
        if (state.manualReset)
            return state.signalled.load() != 0;
        uint32_t set = 1;
        return state.signalled.compare_exchange_strong(set, 0);
    }

    std::shared_ptr<SharedSegment> m_segment;
};

} // namespace

HANDLE CreateNamedEvent(const char *name, bool manualReset, bool initialState) {
    if (!NameFits(name))
        return nullptr;
    EventInit init{manualReset, initialState};
    bool existed = false;
    auto segment = SharedSegment::Open(ShmName("event", name), sizeof(SharedEventState),
                                       InitialiseEvent, &init, existed);
    if (!segment) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE handle = AddHandle(std::make_shared<NamedEvent>(std::move(segment)));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

bool SetNamedEvent(KernelObject *object, bool set) {
    auto *event = dynamic_cast<NamedEvent *>(object);
    if (!event)
        return false;
    event->Set(set);
    return true;
}

} // namespace platform
