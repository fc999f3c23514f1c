#include "MemoryMainQueue.hpp"

#include <utility>

namespace quenlitor::platform::memory {

void MemoryMainQueue::post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_posted.notify_one();
}

bool MemoryMainQueue::runOne() {
    std::function<void()> task;
    {
        const std::lock_guard lock(m_mutex);
        if (m_tasks.empty()) {
            return false;
        }
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
    }
    // Unlocked, so the task can post and other threads keep posting while it runs.
    if (task) {
        task();
    }
    return true;
}

std::size_t MemoryMainQueue::runAll() {
    std::size_t ran = 0;
    while (runOne()) {
        ++ran;
    }
    return ran;
}

std::size_t MemoryMainQueue::size() const {
    const std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

bool MemoryMainQueue::waitForTask(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_posted.wait_for(lock, timeout, [this] { return !m_tasks.empty(); });
}

} // namespace quenlitor::platform::memory
