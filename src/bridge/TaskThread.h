// A thread that runs the tasks given to it one after another, in order: a
// page session's apartment (its objects are created, called and released
// there) and the bridge's dialog thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TaskThread {
public:
    using Task = std::function<void()>;

    // Starts the thread; `first` runs on it before any task (the apartment's
    // initialisation), `last` after the final task.
    TaskThread(Task first = {}, Task last = {});
    // Closes (when still open) and waits for the thread.
    ~TaskThread();
    TaskThread(const TaskThread &) = delete;
    TaskThread &operator=(const TaskThread &) = delete;

    // Queues a task; false once the thread is closed.
    bool Post(Task task);
    // Drops the tasks still waiting, runs `final` and ends the thread. The
    // task running now finishes first; Close does not wait for it.
    void Close(Task final = {});
    // Whether the thread has ended (Join then returns at once).
    bool Finished() const { return m_finished.load(); }
    void Join();

private:
    void Loop(Task first, Task last);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_closed = false;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
