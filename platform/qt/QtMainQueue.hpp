#pragma once

#include "QtOwnership.hpp"
#include "platform/MainQueue.hpp"

#include <QObject>

namespace quenlitor::platform::qt {

// The GUI thread's event queue: each task is posted as a queued call to an object living on the
// thread that constructed the queue (the GUI thread), so tasks run there, between events, in
// posting order. Tasks still queued when the queue is destroyed are dropped.
class QtMainQueue final : public MainQueue {
public:
    // Construct on the GUI thread, after the application object.
    QtMainQueue();

    void post(std::function<void()> task) override;

private:
    QtOwned<QObject> m_context;
};

} // namespace quenlitor::platform::qt
