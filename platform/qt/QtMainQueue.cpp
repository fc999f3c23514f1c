#include "QtMainQueue.hpp"

#include <utility>

namespace quenlitor::platform::qt {

QtMainQueue::QtMainQueue() : m_context(new QObject) {}

void QtMainQueue::post(std::function<void()> task) {
    QMetaObject::invokeMethod(
        m_context.get(),
        [task = std::move(task)] {
            if (task) {
                task();
            }
        },
        Qt::QueuedConnection);
}

} // namespace quenlitor::platform::qt
