#include "QtMenu.hpp"

#include "MenuViews.hpp"
#include "QtText.hpp"

#include <QCoreApplication>

#include <utility>

namespace quenlitor::platform::qt {

namespace {

// An item's title as a QAction shows it: '&' would mark the next letter as the keyboard
// accelerator and vanish, a tab would start the shortcut column, a line break would break the
// menu's layout.
QString displayText(const std::string& title) {
    QString text = toQString(title);
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    for (QChar& character : text) {
        if (character == QLatin1Char('\t') || character == QLatin1Char('\n') || character == QLatin1Char('\r')) {
            character = QLatin1Char(' ');
        }
    }
    return text;
}

} // namespace

std::shared_ptr<QtMenuItem> QtMenuItem::create(const std::string& title, bool separator) {
    std::shared_ptr<QtMenuItem> item(new QtMenuItem(title, separator));
    QObject::connect(item->action(), &QAction::triggered, item->action(), [weak = std::weak_ptr<QtMenuItem>(item)] {
        if (const auto self = weak.lock()) {
            self->chosen();
        }
    });
    return item;
}

QtMenuItem::QtMenuItem(std::string title, bool separator)
    : m_title(std::move(title)), m_separator(separator), m_qaction(new QAction) {
    m_qaction->setSeparator(separator);
    m_qaction->setText(displayText(m_title));
}

void QtMenuItem::setTitle(const std::string& title) {
    m_title = title;
    m_qaction->setText(displayText(m_title));
}

void QtMenuItem::setEnabled(bool enabled) {
    m_enabled = enabled;
    m_qaction->setEnabled(enabled);
}

void QtMenuItem::setState(bool on) {
    m_state = on;
    m_qaction->setCheckable(true);
    m_qaction->setChecked(on);
}

void QtMenuItem::setToolTip(const std::optional<std::string>& toolTip) {
    m_toolTip = toolTip;
    m_qaction->setToolTip(toolTip ? plainToolTip(*toolTip) : QString());
}

void QtMenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    m_submenu = std::move(submenu);
    const auto shown = std::dynamic_pointer_cast<QtMenu>(m_submenu);
    m_qaction->setMenu(shown ? shown->qmenu() : static_cast<QMenu*>(nullptr));
}

void QtMenuItem::chosen() {
    // Qt flips a checkable action's mark by itself before telling; the mark shows only what the
    // application set.
    m_qaction->setChecked(m_state);
    // A D-Bus tray host may ask for a disabled item all the same.
    if (!m_enabled || !m_action) {
        return;
    }
    // The action may rebuild the menu, releasing this item and its action.
    const std::shared_ptr<QtMenuItem> keepAlive = shared_from_this();
    const Action action = m_action;
    action(*this);
}

std::shared_ptr<QtMenu> QtMenu::create() {
    std::shared_ptr<QtMenu> menu(new QtMenu);
    const MenuViews* views = &MenuViews::of(*menu->qmenu());
    QObject::connect(views, &MenuViews::opening, views, [weak = std::weak_ptr<QtMenu>(menu)] {
        if (const auto self = weak.lock()) {
            self->reportOpening();
        }
    });
    QObject::connect(views, &MenuViews::closed, views, [weak = std::weak_ptr<QtMenu>(menu)] {
        if (const auto self = weak.lock()) {
            self->reportClosing();
        }
    });
    return menu;
}

QtMenu::QtMenu() : m_qmenu(new QMenu) {
    m_qmenu->setToolTipsVisible(true);
    // Every separator the application adds is shown.
    m_qmenu->setSeparatorsCollapsible(false);
}

// A QMenu deleted while it still holds actions never tells its platform menu (the D-Bus menu a
// tray host reads) to drop them, and what Qt made for them there is never freed: about 8 KB at
// every rebuild of a menu with submenus. Emptied first, each action leaves as in any removal.
QtMenu::~QtMenu() {
    if (QCoreApplication::instance() != nullptr) {
        removeAllItems();
    }
}

void QtMenu::removeAllItems() {
    for (const std::shared_ptr<MenuItem>& item : std::exchange(m_items, {})) {
        if (const auto shown = std::dynamic_pointer_cast<QtMenuItem>(item)) {
            m_qmenu->removeAction(shown->action());
        }
    }
}

void QtMenu::addItem(std::shared_ptr<MenuItem> item) {
    if (const auto shown = std::dynamic_pointer_cast<QtMenuItem>(item)) {
        m_qmenu->addAction(shown->action());
    }
    m_items.push_back(std::move(item));
}

void QtMenu::reportOpening() {
    if (const auto delegate = m_delegate.lock()) {
        // The delegate rebuilds the menu; whoever called may hold this menu only by the items.
        const std::shared_ptr<QtMenu> keepAlive = shared_from_this();
        delegate->menuWillOpen(*this);
    }
}

void QtMenu::reportClosing() {
    if (const auto delegate = m_delegate.lock()) {
        delegate->menuDidClose(*this);
    }
}

} // namespace quenlitor::platform::qt
