#pragma once

#include "platform/qt/TrayHosts.hpp"
#include "support/Files.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QString>

#include <chrono>
#include <ostream>

namespace quenlitor::testing {

// Runs the GUI thread's events until `done()` holds or `timeout` passes; true when it held.
template <typename Predicate>
bool processEventsUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A tray that the test switches on and off.
class FakeTrayHosts final : public platform::qt::TrayHosts {
public:
    explicit FakeTrayHosts(bool available = false) : m_available(available) {}
    bool available() const override { return m_available; }
    void set(bool available) {
        m_available = available;
        if (onChange) {
            onChange();
        }
    }

private:
    bool m_available;
};

// Deletes what Qt was told to delete later, as the event loop would.
inline void deleteLaterObjects() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace quenlitor::testing

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
