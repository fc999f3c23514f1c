#include "MenuViews.hpp"

namespace quenlitor::platform::qt {

namespace {

// Tray hosts are named by their unique bus names, which all start with ':'.
const QString popup = QStringLiteral("popup");

} // namespace

MenuViews& MenuViews::of(QMenu& menu) {
    if (auto* views = menu.findChild<MenuViews*>(QString(), Qt::FindDirectChildrenOnly)) {
        return *views;
    }
    return *new MenuViews(menu);
}

MenuViews::MenuViews(QMenu& menu) : QObject(&menu) {
    connect(&menu, &QMenu::aboutToShow, this, [this] { open(popup); });
    connect(&menu, &QMenu::aboutToHide, this, [this] { close(popup); });
}

void MenuViews::open(const QString& view) {
    const bool anew = isOpen();
    m_open.insert(view);
    if (anew) {
        Q_EMIT closed();
    }
    Q_EMIT opening();
}

void MenuViews::close(const QString& view) {
    if (m_open.remove(view) && !isOpen()) {
        Q_EMIT closed();
    }
}

} // namespace quenlitor::platform::qt
