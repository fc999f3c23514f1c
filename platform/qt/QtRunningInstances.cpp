#include "QtRunningInstances.hpp"

#include <QCoreApplication>
#include <QLocalSocket>

#include <utility>

namespace quenlitor::platform::qt {

namespace {

// Long enough for a running copy that is busy for a moment, short enough that a start which
// cannot reach it still ends at once.
constexpr int connectMilliseconds = 500;

} // namespace

QtRunningInstances::QtRunningInstances(std::filesystem::path directory)
    : m_directory(std::move(directory)), m_locks(m_directory) {}

QtRunningInstances::~QtRunningInstances() {
    if (m_server && QCoreApplication::instance() != nullptr) {
        // The server is deleted later: nothing may reach this object meanwhile.
        QObject::disconnect(m_server.get(), nullptr, nullptr, nullptr);
        m_server->close();
    }
}

std::filesystem::path QtRunningInstances::socketPath(std::string_view applicationId) const {
    std::filesystem::path path = m_locks.lockPath(applicationId);
    path.replace_extension(".socket");
    return path;
}

bool QtRunningInstances::claimSingleInstance(std::string_view applicationId) {
    if (m_locks.claimSingleInstance(applicationId)) {
        listen(applicationId);
        return true;
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath(applicationId).string()));
    if (socket.waitForConnected(connectMilliseconds)) {
        socket.disconnectFromServer();
    }
    return false;
}

void QtRunningInstances::listen(std::string_view applicationId) {
    if (m_server) {
        return;
    }
    const QString path = QString::fromStdString(socketPath(applicationId).string());
    // Whatever is left there is a crashed copy's: this process holds the lock now.
    QLocalServer::removeServer(path);
    m_server.reset(new QLocalServer);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
        while (QLocalSocket* connection = m_server->nextPendingConnection()) {
            connection->disconnectFromServer();
            connection->deleteLater();
            if (onActivated) {
                onActivated();
            }
        }
    });
    // A copy that cannot listen still runs alone; later starts just end, as they did before.
    m_server->listen(path);
}

} // namespace quenlitor::platform::qt
