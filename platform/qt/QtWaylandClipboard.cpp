#include "QtWaylandClipboard.hpp"

#include "platform/wayland/DataControlClipboard.hpp"

#include <QSocketNotifier>

namespace quenlitor::platform::qt {

QtWaylandClipboard::QtWaylandClipboard(std::shared_ptr<wayland::DataControlClipboard> selection)
    : m_selection(std::move(selection)),
      m_notifier(std::make_unique<QSocketNotifier>(m_selection->descriptor(), QSocketNotifier::Read)) {
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [weak = std::weak_ptr(m_selection)] {
                         if (const auto live = weak.lock()) {
                             live->dispatch();
                         }
                     });
}

QtWaylandClipboard::~QtWaylandClipboard() = default;

void QtWaylandClipboard::clearContents() { m_selection->clearContents(); }

bool QtWaylandClipboard::setString(std::string_view text) {
    // Should this copy reach the selection late, the callback set when it was made is told.
    m_selection->onLateWrite = onLateWrite;
    return m_selection->setString(text);
}

} // namespace quenlitor::platform::qt
