#include "QtStatusItem.hpp"

#include "QtMenu.hpp"
#include "QtText.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

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

QtStatusButton::QtStatusButton() : m_tray(new QSystemTrayIcon) {
    auto [normal, dimmed] = drawPianoKeys();
    m_icon = std::move(normal);
    m_dimmedIcon = std::move(dimmed);
    m_tray->setIcon(m_icon);
    m_tray->show();
}

QtStatusButton::~QtStatusButton() {
    // The tray icon is deleted later, and it should leave the tray now.
    if (QCoreApplication::instance() != nullptr) {
        m_tray->hide();
    }
}

bool QtStatusButton::setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) {
    if (symbolName != pianoKeys || m_icon.isNull()) {
        return false;
    }
    m_imageDescription = std::string(accessibilityDescription);
    return true;
}

void QtStatusButton::setTitle(const std::string& title) { m_title = title; }

void QtStatusButton::setToolTip(const std::string& toolTip) {
    m_toolTip = toolTip;
    m_tray->setToolTip(toQString(m_toolTip));
}

void QtStatusButton::setAccessibilityLabel(const std::string& label) {
    m_label = label;
    const QString name = accessibleName();
    // Qt hands StatusNotifierItem hosts the application name as the item's title; left alone it
    // is the executable's file name.
    QCoreApplication::setApplicationName(name);
    QGuiApplication::setApplicationDisplayName(name);
    if (QMenu* menu = m_tray->contextMenu()) {
        menu->setAccessibleName(name);
    }
}

void QtStatusButton::setAppearsDisabled(bool disabled) {
    // Setting even the same icon makes a StatusNotifierItem host fetch every pixmap again.
    if (disabled == m_appearsDisabled) {
        return;
    }
    m_appearsDisabled = disabled;
    m_tray->setIcon(m_appearsDisabled ? m_dimmedIcon : m_icon);
}

QString QtStatusButton::accessibleName() const { return toQString(m_label.empty() ? m_imageDescription : m_label); }

QtStatusItem::QtStatusItem() : m_button(std::make_shared<QtStatusButton>()) {}

QtStatusItem::~QtStatusItem() { QObject::disconnect(m_leftClick); }

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    QObject::disconnect(m_leftClick);
    m_menu = std::move(menu);
    const auto shown = std::dynamic_pointer_cast<QtMenu>(m_menu);
    m_button->tray().setContextMenu(shown ? shown->qmenu() : nullptr);
    if (!shown) {
        return;
    }
    shown->qmenu()->setAccessibleName(m_button->accessibleName());
    m_leftClick = QObject::connect(&m_button->tray(), &QSystemTrayIcon::activated, shown->qmenu(),
                                   [weak = std::weak_ptr<QtMenu>(shown)](QSystemTrayIcon::ActivationReason reason) {
                                       const auto opened = weak.lock();
                                       if (reason != QSystemTrayIcon::Trigger || !opened) {
                                           return;
                                       }
                                       QMenu* qmenu = opened->qmenu();
                                       if (qmenu->isVisible()) {
                                           qmenu->hide();
                                       } else {
                                           qmenu->popup(QCursor::pos());
                                       }
                                   });
}

bool QtStatusItem::isSystemTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

} // namespace quenlitor::platform::qt
