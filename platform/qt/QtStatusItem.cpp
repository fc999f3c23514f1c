#include "QtStatusItem.hpp"

#include "QtMenu.hpp"
#include "QtText.hpp"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStringList>
#include <QSvgRenderer>

#include <functional>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

constexpr std::string_view pianoKeys = "pianokeys";
// Enough sizes for every tray: 16 to 24 pixels at normal density, 32 to 48 doubled.
constexpr int iconSides[] = {16, 22, 24, 32, 44, 48, 64};
constexpr double dimmedOpacity = 0.4;

// The symbolic SVG's shape, in `color`.
QIcon drawPianoKeys(const QColor& color) {
    QSvgRenderer renderer(QStringLiteral(":/quenlitor/icons/quenlitor-midi-texto-symbolic.svg"));
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (const int side : iconSides) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        // Keeps the shape's coverage and replaces its colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    // A hint to platforms that recolour template images themselves.
    icon.setIsMask(true);
    return icon;
}

} // namespace

// Tells the button when the application's palette changes: the desktop switched between light
// and dark, or to another colour scheme.
class QtStatusButton::PaletteWatcher final : public QObject {
public:
    explicit PaletteWatcher(std::function<void()> onChange) : m_onChange(std::move(onChange)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
            m_onChange();
        }
        return false;
    }

private:
    std::function<void()> m_onChange;
};

QtStatusButton::QtStatusButton()
    : m_tray(new QSystemTrayIcon), m_paletteWatcher(new PaletteWatcher([this] {
          if (!m_icon.isNull()) {
              drawIcon();
          }
      })) {
    QCoreApplication::instance()->installEventFilter(m_paletteWatcher.get());
    drawIcon();
    m_tray->show();
}

QtStatusButton::~QtStatusButton() {
    // Both objects are deleted later, and the icon should leave the tray now.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(m_paletteWatcher.get());
        m_tray->hide();
    }
}

bool QtStatusButton::setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) {
    if (symbolName != pianoKeys) {
        return false;
    }
    drawIcon();
    if (m_icon.isNull()) {
        return false;
    }
    m_imageDescription = std::string(accessibilityDescription);
    return true;
}

void QtStatusButton::setTitle(const std::string& title) {
    m_title = title;
    showToolTip();
}

void QtStatusButton::setToolTip(const std::string& toolTip) {
    m_toolTip = toolTip;
    showToolTip();
}

void QtStatusButton::setAccessibilityLabel(const std::string& label) {
    m_label = label;
    const QString name = accessibleName();
    QGuiApplication::setApplicationDisplayName(name);
    if (QMenu* menu = m_tray->contextMenu()) {
        menu->setAccessibleName(name);
    }
}

void QtStatusButton::setAppearsDisabled(bool disabled) {
    m_appearsDisabled = disabled;
    m_tray->setIcon(m_appearsDisabled ? m_dimmedIcon : m_icon);
}

QString QtStatusButton::accessibleName() const { return toQString(m_label.empty() ? m_imageDescription : m_label); }

void QtStatusButton::drawIcon() {
    m_iconColor = QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
    QColor dimmed = m_iconColor;
    dimmed.setAlphaF(static_cast<float>(m_iconColor.alphaF() * dimmedOpacity));
    m_icon = drawPianoKeys(m_iconColor);
    m_dimmedIcon = drawPianoKeys(dimmed);
    m_tray->setIcon(m_appearsDisabled ? m_dimmedIcon : m_icon);
}

void QtStatusButton::showToolTip() {
    QStringList lines;
    if (const QString title = toQString(m_title).trimmed(); !title.isEmpty()) {
        lines << title;
    }
    if (!m_toolTip.empty()) {
        lines << toQString(m_toolTip);
    }
    m_tray->setToolTip(lines.join(QLatin1Char('\n')));
}

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
