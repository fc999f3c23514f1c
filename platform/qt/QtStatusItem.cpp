#include "QtStatusItem.hpp"

#include "QtMenu.hpp"
#include "QtStatusWindow.hpp"
#include "QtText.hpp"
#include "TrayHosts.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>

#include <algorithm>
#include <chrono>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

constexpr std::string_view pianoKeys = "pianokeys";
// Enough sizes for every tray: 16 to 24 pixels at normal density, 32 to 48 doubled.
constexpr int iconSides[] = {16, 22, 24, 32, 44, 48, 64};
constexpr double dimmedOpacity = 0.4;

struct PianoKeys {
    QIcon normal;
    QIcon dimmed;
};

// The two-tone piano keys at every size, as they are and dimmed: an XEmbed tray tells nobody its
// colour, and the icon must read on light and dark panels alike.
PianoKeys drawPianoKeys() {
    QSvgRenderer renderer(QStringLiteral(":/quenlitor/icons/quenlitor-midi-texto-panel.svg"));
    if (!renderer.isValid()) {
        return {};
    }
    PianoKeys icons;
    for (const int side : iconSides) {
        QImage keys(side, side, QImage::Format_ARGB32_Premultiplied);
        keys.fill(Qt::transparent);
        QPainter keysPainter(&keys);
        renderer.render(&keysPainter);
        keysPainter.end();
        icons.normal.addPixmap(QPixmap::fromImage(keys));
        // The renderer sets the painter's opacity itself: the finished keys are faded instead.
        QImage faded(side, side, QImage::Format_ARGB32_Premultiplied);
        faded.fill(Qt::transparent);
        QPainter fadedPainter(&faded);
        fadedPainter.setOpacity(dimmedOpacity);
        fadedPainter.drawImage(0, 0, keys);
        fadedPainter.end();
        icons.dimmed.addPixmap(QPixmap::fromImage(faded));
    }
    return icons;
}

} // namespace

QtStatusButton::QtStatusButton() {
    auto [normal, dimmed] = drawPianoKeys();
    m_icon = std::move(normal);
    m_dimmedIcon = std::move(dimmed);
}

bool QtStatusButton::setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) {
    if (symbolName != pianoKeys || m_icon.isNull()) {
        return false;
    }
    m_imageDescription = std::string(accessibilityDescription);
    changed(Change::name);
    return true;
}

void QtStatusButton::setTitle(const std::string& title) { m_title = title; }

void QtStatusButton::setToolTip(const std::string& toolTip) {
    m_toolTip = toolTip;
    changed(Change::toolTip);
}

QString QtStatusButton::toolTip() const { return toQString(m_toolTip); }

void QtStatusButton::setAccessibilityLabel(const std::string& label) {
    m_label = label;
    const QString name = accessibleName();
    // Qt hands StatusNotifierItem hosts the application name as the item's title; left alone it
    // is the executable's file name.
    QCoreApplication::setApplicationName(name);
    QGuiApplication::setApplicationDisplayName(name);
    changed(Change::name);
}

void QtStatusButton::setAppearsDisabled(bool disabled) {
    // Setting even the same icon makes a StatusNotifierItem host fetch every pixmap again.
    if (disabled == m_appearsDisabled) {
        return;
    }
    m_appearsDisabled = disabled;
    changed(Change::icon);
}

QString QtStatusButton::accessibleName() const { return toQString(m_label.empty() ? m_imageDescription : m_label); }

void QtStatusButton::changed(Change change) {
    if (onChange) {
        onChange(change);
    }
}

std::shared_ptr<QtStatusItem> QtStatusItem::create(std::shared_ptr<TrayHosts> hosts, Patience patience) {
    std::shared_ptr<QtStatusItem> item(new QtStatusItem(std::move(hosts), patience));
    const std::weak_ptr<QtStatusItem> weak = item;
    item->m_hosts->onChange = [weak] {
        if (const auto self = weak.lock()) {
            self->carryOut(self->m_placement.traysChanged(self->m_hosts->kind(), StatusPlacement::Clock::now()));
        }
    };
    item->m_hosts->onHostLeft = [weak] {
        if (const auto self = weak.lock()) {
            self->carryOut(self->m_placement.hostLeft(StatusPlacement::Clock::now()));
            if (self->m_placement.state().deadline && self->m_statusNotifier) {
                self->m_statusNotifier->askHostsToRead();
            }
        }
    };
    item->m_button->onChange = [weak](QtStatusButton::Change change) {
        if (const auto self = weak.lock()) {
            self->buttonChanged(change);
        }
    };
    QObject::connect(item->m_wait.get(), &QTimer::timeout, item->m_wait.get(), [weak] {
        if (const auto self = weak.lock()) {
            self->carryOut(self->m_placement.deadlinePassed());
        }
    });
    item->carryOut(item->m_placement.start(item->m_hosts->kind(), StatusPlacement::Clock::now()));
    return item;
}

QtStatusItem::QtStatusItem(std::shared_ptr<TrayHosts> hosts, Patience patience)
    : m_hosts(std::move(hosts)), m_placement(patience), m_wait(new QTimer) {
    m_wait->setSingleShot(true);
    // A coarse timer may fire 5 % early: the window would come before the tray had its time.
    m_wait->setTimerType(Qt::PreciseTimer);
}

QtStatusItem::~QtStatusItem() {
    QObject::disconnect(m_leftClick);
    m_hosts->onChange = nullptr;
    m_hosts->onHostLeft = nullptr;
    // All are deleted later, and should leave the desktop now.
    if (QCoreApplication::instance() != nullptr) {
        if (m_statusNotifier) {
            m_statusNotifier->onMenuRequested = nullptr;
            m_statusNotifier->onRead = nullptr;
            m_statusNotifier->onRefused = nullptr;
            m_statusNotifier->hide();
        }
        if (m_tray) {
            m_tray->hide();
        }
        if (m_window) {
            m_window->onCloseRequested = nullptr;
            m_window->hide();
        }
    }
}

void QtStatusItem::activate() {
    carryOut(m_placement.activated());
    // Shown already, it is raised and focused again.
    if (m_shown == Shown::window) {
        m_window->present();
    }
}

// Makes the desktop show what `state` says: the item on the bus or not, the XEmbed icon, the
// window, and the timer for the wait that runs.
void QtStatusItem::carryOut(const StatusPlacement::State& state) {
    if (state.offered && !offerStatusNotifier()) {
        carryOut(m_placement.refused());
        return;
    }
    if (!state.offered && m_statusNotifier) {
        m_statusNotifier->hide();
    }
    if (state.shown == Shown::xembed) {
        showXEmbedIcon();
    } else if (m_tray) {
        m_tray->hide();
    }
    const Shown before = std::exchange(m_shown, state.shown);
    if (state.shown == Shown::window && before != Shown::window) {
        presentWindow();
    } else if (state.shown != Shown::window && m_window) {
        m_window->hide();
    }
    if (state.deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*state.deadline - StatusPlacement::Clock::now());
        m_wait->start(std::max(left, std::chrono::milliseconds::zero()));
    } else {
        m_wait->stop();
    }
}

// The item on the bus for StatusNotifierItem hosts; false when the bus cannot be reached.
bool QtStatusItem::offerStatusNotifier() {
    if (!m_statusNotifier) {
        m_statusNotifier.reset(new StatusNotifierItem(QStringLiteral("quenlitor-midi-texto")));
        m_statusNotifier->setTitle(m_button->accessibleName());
        m_statusNotifier->setIcon(m_button->icon());
        m_statusNotifier->setToolTip(m_button->toolTip());
        const std::weak_ptr<QtStatusItem> weak = weak_from_this();
        m_statusNotifier->onMenuRequested = [weak](QPoint at) {
            if (const auto self = weak.lock()) {
                self->popUpMenu(at);
            }
        };
        m_statusNotifier->onRead = [weak] {
            if (const auto self = weak.lock()) {
                self->carryOut(self->m_placement.read());
            }
        };
        m_statusNotifier->onRefused = [weak] {
            if (const auto self = weak.lock()) {
                self->carryOut(self->m_placement.refused());
            }
        };
        attachMenu();
    }
    return m_statusNotifier->show();
}

void QtStatusItem::showXEmbedIcon() {
    if (!m_tray) {
        m_tray.reset(new QSystemTrayIcon);
        m_tray->setIcon(m_button->icon());
        m_tray->setToolTip(m_button->toolTip());
        m_leftClick = QObject::connect(m_tray.get(), &QSystemTrayIcon::activated, m_tray.get(),
                                       [weak = weak_from_this()](QSystemTrayIcon::ActivationReason reason) {
                                           const auto self = weak.lock();
                                           if (self && reason == QSystemTrayIcon::Trigger) {
                                               self->popUpMenu(QCursor::pos());
                                           }
                                       });
        attachMenu();
    }
    m_tray->show();
}

void QtStatusItem::presentWindow() {
    if (!m_window) {
        m_window.reset(new QtStatusWindow);
        m_window->setTitle(m_button->accessibleName());
        m_window->setIcon(m_button->icon());
        m_window->setMenu(std::dynamic_pointer_cast<QtMenu>(m_menu));
        m_window->onCloseRequested = [weak = weak_from_this()] {
            if (const auto self = weak.lock(); self && self->onCloseRequested) {
                self->onCloseRequested();
            }
        };
    }
    m_window->present();
}

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    m_menu = std::move(menu);
    attachMenu();
    if (m_window) {
        m_window->setMenu(std::dynamic_pointer_cast<QtMenu>(m_menu));
    }
}

void QtStatusItem::attachMenu() {
    const auto shown = std::dynamic_pointer_cast<QtMenu>(m_menu);
    QMenu* qmenu = shown ? shown->qmenu() : nullptr;
    if (qmenu != nullptr) {
        qmenu->setAccessibleName(m_button->accessibleName());
    }
    if (m_statusNotifier) {
        m_statusNotifier->setMenu(qmenu);
    }
    if (m_tray) {
        m_tray->setContextMenu(qmenu);
    }
}

// Opens the menu with a corner at `at`, or closes it when it is open: a second click on the icon
// takes the menu away again.
void QtStatusItem::popUpMenu(QPoint at) {
    const auto shown = std::dynamic_pointer_cast<QtMenu>(m_menu);
    if (!shown) {
        return;
    }
    QMenu* qmenu = shown->qmenu();
    if (qmenu->isVisible()) {
        qmenu->hide();
        return;
    }
    // The menu's size is known once it is shown: it is rebuilt as it opens.
    qmenu->popup(at);
    // Qt pushes a menu that does not fit below or right of the point back onto the screen, over
    // the point: asked for at the icon of a bottom panel, the menu would cover the panel and the
    // icon. It goes above or left of the point instead, as the panel's own menus do.
    const QRect menu = qmenu->geometry();
    const QRect screen = qmenu->screen() != nullptr ? qmenu->screen()->geometry() : menu;
    QPoint corner = menu.topLeft();
    if (menu.top() < at.y() && menu.bottom() >= at.y() && at.y() - menu.height() >= screen.top()) {
        corner.setY(at.y() - menu.height());
    }
    if (menu.left() < at.x() && menu.right() >= at.x() && at.x() - menu.width() >= screen.left()) {
        corner.setX(at.x() - menu.width());
    }
    if (corner != menu.topLeft()) {
        qmenu->move(corner);
    }
}

void QtStatusItem::buttonChanged(QtStatusButton::Change change) {
    switch (change) {
    case QtStatusButton::Change::icon:
        if (m_statusNotifier) {
            m_statusNotifier->setIcon(m_button->icon());
        }
        if (m_tray) {
            m_tray->setIcon(m_button->icon());
        }
        if (m_window) {
            m_window->setIcon(m_button->icon());
        }
        break;
    case QtStatusButton::Change::toolTip:
        if (m_statusNotifier) {
            m_statusNotifier->setToolTip(m_button->toolTip());
        }
        if (m_tray) {
            m_tray->setToolTip(m_button->toolTip());
        }
        break;
    case QtStatusButton::Change::name:
        if (const auto shown = std::dynamic_pointer_cast<QtMenu>(m_menu)) {
            shown->qmenu()->setAccessibleName(m_button->accessibleName());
        }
        if (m_statusNotifier) {
            m_statusNotifier->setTitle(m_button->accessibleName());
        }
        if (m_window) {
            m_window->setTitle(m_button->accessibleName());
        }
        break;
    }
}

} // namespace quenlitor::platform::qt
