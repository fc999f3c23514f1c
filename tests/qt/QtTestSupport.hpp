#pragma once

#include "platform/Menu.hpp"
#include "platform/qt/TrayHosts.hpp"
#include "support/Files.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QString>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace quenlitor::testing {

// Whether the process has a session bus of its own (QtTestMain.cpp).
inline bool sessionBusRuns = false;

// Runs the GUI thread's events until `done()` holds or `timeout` passes; true when it held.
template <typename Predicate>
bool processEventsUntil(Predicate done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const QDeadlineTimer deadline(timeout);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

class FakeTrayHosts final : public platform::qt::TrayHosts {
public:
    using TrayKind = platform::qt::TrayKind;

    explicit FakeTrayHosts(TrayKind kind = TrayKind::none) : m_kind(kind) {}
    TrayKind kind() const override { return m_kind; }
    void set(TrayKind kind) { m_kind = kind, onChange ? onChange() : void(); }
    void hostLeft() { onHostLeft ? onHostLeft() : void(); }

private:
    TrayKind m_kind;
};

struct RecordingMenuDelegate final : platform::MenuDelegate {
    std::vector<std::string> events;
    void menuWillOpen(platform::Menu&) override { events.push_back("open"); }
    void menuDidClose(platform::Menu&) override { events.push_back("close"); }
};

inline void deleteLaterObjects() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace quenlitor::testing

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
