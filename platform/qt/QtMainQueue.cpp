#include "QtMainQueue.hpp"

#include <utility>

namespace quenlitor::platform::qt {

QtMainQueue::QtMainQueue() : m_context(new QObject) {}

void QtMainQueue::post(std::function<void()> task) {
    if (task) {
        QMetaObject::invokeMethod(m_context.get(), std::move(task), Qt::QueuedConnection);
    }
}

} // namespace quenlitor::platform::qt
