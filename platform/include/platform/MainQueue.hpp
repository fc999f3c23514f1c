#pragma once

#include <functional>

namespace quenlitor::platform {

// The main thread's task queue, where all of the application's state lives.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    // Queues `task` to run later on the main thread, after every task posted before it. Callable
    // from any thread; never runs the task before returning.
    virtual void post(std::function<void()> task) = 0;
};

} // namespace quenlitor::platform
