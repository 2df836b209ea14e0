#include "TaskThread.h"

TaskThread::TaskThread(Task first, Task last)
    : m_thread([this, first = std::move(first), last = std::move(last)]() mutable {
          Loop(std::move(first), std::move(last));
      }) {}

TaskThread::~TaskThread() {
    Close();
    Join();
}

bool TaskThread::Post(Task task) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed)
            return false;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void TaskThread::Close(Task final) {
    std::deque<Task> dropped; // destroyed here, outside the lock
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed)
            return;
        m_closed = true;
        dropped.swap(m_tasks);
        if (final)
            m_tasks.push_back(std::move(final));
    }
    m_wake.notify_one();
}

void TaskThread::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void TaskThread::Loop(Task first, Task last) {
    if (first)
        first();
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return m_closed || !m_tasks.empty(); });
            if (m_tasks.empty())
                break; // closed, nothing left
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
    if (last)
        last();
    m_finished = true;
}
