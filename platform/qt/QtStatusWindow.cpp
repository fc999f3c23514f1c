#include "QtStatusWindow.hpp"

#include "MenuViews.hpp"
#include "QtMenu.hpp"
#include "QtText.hpp"
#include "X11.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace quenlitor::platform::qt {

namespace {

constexpr int iconSide = 32;
// Wide enough for the capture and token lines to wrap onto two lines at most.
constexpr int windowWidth = 420;
// The window among the menu's views.
const QString windowView = QStringLiteral("window");

QFrame* separatorLine() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// The widget for one item, following the item's later changes through its action.
QWidget* widgetFor(const std::shared_ptr<QtMenuItem>& item, const std::function<void()>& choose) {
    if (item->isSeparator()) {
        return separatorLine();
    }
    QAction* action = item->action();
    QWidget* widget = nullptr;
    std::function<void()> update;
    if (const auto submenu = std::dynamic_pointer_cast<QtMenu>(item->submenu())) {
        auto* button = new QPushButton;
        button->setMenu(submenu->qmenu());
        update = [button, action] { button->setText(action->text()); };
        widget = button;
    } else if (action->isCheckable()) {
        auto* box = new QCheckBox;
        QObject::connect(box, &QCheckBox::clicked, box, [box, action, choose] {
            // The box shows the application's mark, which the command changes, not the click.
            box->setChecked(action->isChecked());
            choose();
        });
        update = [box, action] {
            box->setText(action->text());
            box->setChecked(action->isChecked());
        };
        widget = box;
    } else if (item->hasAction()) {
        auto* button = new QPushButton;
        QObject::connect(button, &QPushButton::clicked, button, [choose] { choose(); });
        update = [button, action] { button->setText(action->text()); };
        widget = button;
    } else {
        // A line to read: shown whole, as plain text, in the window's normal colour.
        auto* label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        update = [label, weak = std::weak_ptr<QtMenuItem>(item)] {
            if (const auto shown = weak.lock()) {
                label->setText(toQString(shown->title()));
            }
        };
        widget = label;
    }
    const bool isLabel = qobject_cast<QLabel*>(widget) != nullptr;
    const auto refresh = [widget, action, update, isLabel, weak = std::weak_ptr<QtMenuItem>(item)] {
        update();
        if (!isLabel) {
            widget->setEnabled(action->isEnabled());
        }
        // The item's own tool tip only: an action without one answers with its text, which a
        // screen reader would then read twice.
        const auto shown = weak.lock();
        const auto toolTip = shown ? shown->toolTip() : std::nullopt;
        widget->setToolTip(toolTip ? plainToolTip(*toolTip) : QString());
    };
    refresh();
    QObject::connect(action, &QAction::changed, widget, refresh);
    return widget;
}

} // namespace

QtStatusWindow::QtStatusWindow() {
    auto* columns = new QHBoxLayout(this);
    m_icon = new QLabel;
    m_icon->setFixedSize(iconSide, iconSide);
    columns->addWidget(m_icon, 0, Qt::AlignTop);
    m_items = new QVBoxLayout;
    columns->addLayout(m_items, 1);
    setFixedWidth(windowWidth);
}

QtStatusWindow::~QtStatusWindow() {
    closeMenu();
    if (m_menu) {
        m_menu->qmenu()->removeEventFilter(this);
    }
}

void QtStatusWindow::setMenu(std::shared_ptr<QtMenu> menu) {
    const bool open = m_open;
    closeMenu();
    if (m_menu) {
        m_menu->qmenu()->removeEventFilter(this);
    }
    m_menu = std::move(menu);
    if (m_menu) {
        // The application adds and removes items when it rebuilds the menu.
        m_menu->qmenu()->installEventFilter(this);
    }
    if (open) {
        this->open();
    }
    scheduleLayout();
}

void QtStatusWindow::setTitle(const QString& title) { setWindowTitle(title); }

void QtStatusWindow::setIcon(const QIcon& icon) {
    setWindowIcon(icon);
    m_icon->setPixmap(icon.pixmap(iconSide, iconSide));
}

void QtStatusWindow::present() {
    open();
    layOutItems();
    showNormal();
    raise();
    activateWindow();
    x11::activate(winId());
}

QWidget* QtStatusWindow::itemWidget(int index) const {
    return index >= 0 && index < itemCount() ? m_itemWidgets[static_cast<std::size_t>(index)] : nullptr;
}

void QtStatusWindow::open() {
    if (m_open) {
        return;
    }
    m_open = true;
    if (m_menu) {
        MenuViews::of(*m_menu->qmenu()).open(windowView);
    }
}

void QtStatusWindow::closeMenu() {
    if (!m_open) {
        return;
    }
    m_open = false;
    if (m_menu) {
        MenuViews::of(*m_menu->qmenu()).close(windowView);
    }
}

void QtStatusWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onCloseRequested) {
        onCloseRequested();
    }
}

void QtStatusWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    open();
}

void QtStatusWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    closeMenu();
}

bool QtStatusWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_menu && watched == m_menu->qmenu() &&
        (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)) {
        scheduleLayout();
    }
    return QWidget::eventFilter(watched, event);
}

// A rebuild removes and adds every item one by one: the window is laid out once, after it.
void QtStatusWindow::scheduleLayout() {
    if (m_layoutScheduled) {
        return;
    }
    m_layoutScheduled = true;
    QMetaObject::invokeMethod(this, [this] {
        if (m_layoutScheduled) {
            layOutItems();
        }
    }, Qt::QueuedConnection);
}

void QtStatusWindow::layOutItems() {
    m_layoutScheduled = false;
    // The widgets may be inside one of their own signals (a command chosen rebuilds the menu).
    for (QWidget* widget : std::exchange(m_itemWidgets, {})) {
        m_items->removeWidget(widget);
        widget->hide();
        widget->deleteLater();
    }
    if (!m_menu) {
        return;
    }
    for (const std::shared_ptr<MenuItem>& item : m_menu->items()) {
        const auto shown = std::dynamic_pointer_cast<QtMenuItem>(item);
        if (!shown) {
            continue;
        }
        QWidget* widget = widgetFor(shown, [this, weak = std::weak_ptr<QtMenuItem>(shown)] {
            if (const auto chosen = weak.lock()) {
                // As from a menu: it closes, the command runs, and the window shows the menu anew.
                closeMenu();
                chosen->action()->trigger();
                reopenAfterChoice();
            }
        });
        if (const auto submenu = std::dynamic_pointer_cast<QtMenu>(shown->submenu())) {
            // A command chosen in the submenu has run by now.
            connect(submenu->qmenu(), &QMenu::triggered, widget, [this] {
                closeMenu();
                reopenAfterChoice();
            });
        }
        m_items->addWidget(widget);
        m_itemWidgets.push_back(widget);
    }
    if (!m_itemWidgets.empty()) {
        if (auto* first = qobject_cast<QLabel*>(m_itemWidgets.front())) {
            QFont bold = first->font();
            bold.setBold(true);
            first->setFont(bold);
        }
    }
    adjustSize();
}

// After the tasks the command queued (a quit among them), so that a window that is going away is
// not opened again.
void QtStatusWindow::reopenAfterChoice() {
    QMetaObject::invokeMethod(this, [this] {
        if (isVisible()) {
            open();
        }
    }, Qt::QueuedConnection);
}

} // namespace quenlitor::platform::qt
