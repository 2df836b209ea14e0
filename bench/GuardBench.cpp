// An uncontended lock and unlock of the cross-process data guard, against a
// process-shared robust pthread mutex in shared memory: the lock the
// platform's own C library offers for the same job.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "support/DataGuard.h"

namespace {

void GuardLockUnlock(benchmark::State &state) {
    const std::string name = "GUARD-BENCH-" + std::to_string(getpid());
    DataGuard guard(name.c_str());
    if (!guard.IsUsable()) {
        state.SkipWithError("the guard could not be made");
        return;
    }
    for (auto _ : state) {
        guard.Lock();
        guard.Unlock();
    }
}
BENCHMARK(GuardLockUnlock);

void RobustMutexLockUnlock(benchmark::State &state) {
    void *memory = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        state.SkipWithError("no shared memory");
        return;
    }
    auto *mutex = static_cast<pthread_mutex_t *>(memory);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    for (auto _ : state) {
        pthread_mutex_lock(mutex);
        pthread_mutex_unlock(mutex);
    }
    pthread_mutex_destroy(mutex);
    munmap(memory, sizeof(pthread_mutex_t));
}
BENCHMARK(RobustMutexLockUnlock);

} // namespace

BENCHMARK_MAIN();
