#include "QtClipboard.hpp"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>

namespace quenlitor::platform::qt {

void QtClipboard::clearContents() {
    if (*m_clearPending) {
        return;
    }
    *m_clearPending = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [pending = std::weak_ptr<bool>(m_clearPending)] {
            const std::shared_ptr<bool> clear = pending.lock();
            if (!clear || !*clear) {
                return;
            }
            *clear = false;
            if (QClipboard* clipboard = QGuiApplication::clipboard()) {
                clipboard->clear(QClipboard::Clipboard);
            }
        },
        Qt::QueuedConnection);
}

bool QtClipboard::setString(std::string_view text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return false;
    }
    *m_clearPending = false;
    const QString written = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    clipboard->setText(written, QClipboard::Clipboard);
    // One round trip asks the server for the owner; while it is this process, the text comes from
    // Qt's own copy.
    return clipboard->text(QClipboard::Clipboard) == written;
}

} // namespace quenlitor::platform::qt
