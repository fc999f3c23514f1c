#pragma once

#include "platform/MainQueue.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace quenlitor::platform::memory {

// A main queue that runs nothing by itself: the thread that drains it, with runOne() or runAll(),
// plays the main thread. Tasks may be posted from any thread.
class MemoryMainQueue final : public MainQueue {
public:
    void post(std::function<void()> task) override;

    // Runs the oldest queued task on the calling thread; false when none was queued.
    bool runOne();
    // Runs queued tasks in posting order, including those they post, until none is left; returns
    // how many ran.
    std::size_t runAll();
    // Tasks queued and not yet run.
    std::size_t size() const;
    // Waits until a task is queued or `timeout` has passed; true when one is queued.
    bool waitForTask(std::chrono::nanoseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace quenlitor::platform::memory
