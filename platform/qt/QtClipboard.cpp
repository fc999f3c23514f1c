#include "QtClipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QString>

namespace quenlitor::platform::qt {

void QtClipboard::clearContents() {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear(QClipboard::Clipboard);
    }
}

bool QtClipboard::setString(std::string_view text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) {
        return false;
    }
    const QString written = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    clipboard->setText(written, QClipboard::Clipboard);
    // While this process owns the clipboard Qt answers from its own copy, without a round trip.
    return clipboard->text(QClipboard::Clipboard) == written;
}

} // namespace quenlitor::platform::qt
