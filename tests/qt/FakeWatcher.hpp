#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>

#include <utility>
#include <vector>

namespace quenlitor::testing {

// A StatusNotifierWatcher on the test's bus that answers registrations as the test says: it
// accepts them, refuses them with an error, or never answers, as broken panels do.
class FakeWatcher final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isStatusNotifierHostRegistered)

public:
    enum class Answer { accept, refuse, never };

    explicit FakeWatcher(QString connectionName, Answer answer = Answer::accept)
        : m_connectionName(std::move(connectionName)), m_answer(answer) {}
    ~FakeWatcher() override { stop(); }

    bool start() {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
        return bus.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportAllContents) &&
               bus.registerService("org.kde.StatusNotifierWatcher");
    }
    void stop() { QDBusConnection::disconnectFromBus(m_connectionName); }

    bool isStatusNotifierHostRegistered() const { return true; }
    // A host leaves the bus, as KDE's watcher tells.
    void hostLeaves() { Q_EMIT StatusNotifierHostUnregistered(); }
    // A host that reads the item `service` again on each signal saying something changed, as
    // hosts do; none when empty.
    void readOnRequest(const QString& service) {
        QDBusConnection bus(m_connectionName);
        for (const char* signal : {"NewTitle", "NewIcon", "NewToolTip"}) {
            bus.disconnect(m_item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", signal, this, SLOT(readItem()));
            if (!service.isEmpty()) {
                bus.connect(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", signal, this, SLOT(readItem()));
            }
        }
        m_item = service;
    }

    std::vector<QString> registered;

Q_SIGNALS:
    void StatusNotifierHostUnregistered();

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        registered.push_back(service);
        if (m_answer == Answer::refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not now"));
        } else if (m_answer == Answer::never) {
            setDelayedReply(true);
        }
    }

private Q_SLOTS:
    void readItem() {
        QDBusConnection(m_connectionName)
            .asyncCall(QDBusMessage::createMethodCall(m_item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                                      "GetAll")
                       << QStringLiteral("org.kde.StatusNotifierItem"));
    }

private:
    QString m_connectionName;
    Answer m_answer;
    QString m_item;
};

} // namespace quenlitor::testing
