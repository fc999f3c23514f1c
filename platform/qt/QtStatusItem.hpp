#pragma once

#include "QtOwnership.hpp"
#include "StatusNotifierItem.hpp"
#include "StatusPlacement.hpp"
#include "TrayHosts.hpp"
#include "platform/Application.hpp"

#include <QIcon>
#include <QMetaObject>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace quenlitor::platform::qt {

class QtMenu;
class QtStatusWindow;

// What the status item shows: the piano keys, a tool tip and a name. Trays show no text beside an
// icon: the title is kept but not shown, and the tool tip is the tool tip text alone (a title
// above it would read as stray letters over the text). The accessibility label becomes the
// application's name and display name, which StatusNotifierItem hosts show as the item's title,
// screen readers announce, and the window takes as its title.
//
// The one symbol known is "pianokeys": the application's piano keys, light keys inside dark lines
// so that they read on any panel. Dimmed, they are drawn at reduced opacity.
class QtStatusButton final : public StatusButton {
public:
    enum class Change { icon, toolTip, name };

    // Holds the piano keys from the start, so the item is never an empty slot.
    QtStatusButton();

    QtStatusButton(const QtStatusButton&) = delete;
    QtStatusButton& operator=(const QtStatusButton&) = delete;

    bool setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) override;
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;
    void setAccessibilityLabel(const std::string& label) override;
    void setAppearsDisabled(bool disabled) override;

    // The piano keys as shown now: dimmed while the button appears disabled.
    const QIcon& icon() const { return m_appearsDisabled ? m_dimmedIcon : m_icon; }
    QString toolTip() const;
    bool appearsDisabled() const { return m_appearsDisabled; }
    // The label, or the image's description when no label was set.
    QString accessibleName() const;
    const std::string& title() const { return m_title; }

    // Told after each change of what the item shows.
    std::function<void(Change)> onChange;

private:
    void changed(Change change);

    std::string m_title;
    std::string m_toolTip;
    std::string m_label;
    std::string m_imageDescription;
    bool m_appearsDisabled = false;
    QIcon m_icon;
    QIcon m_dimmedIcon;
};

// The application's status item, in the tray while the desktop has one that shows it and in a
// window (QtStatusWindow) while it has none; the application sees one item and one menu
// throughout. Where it goes, and when, is StatusPlacement's to decide; this carries it out.
//
// activate() (another start of the application) shows the window unless a tray shows the item,
// and raises and focuses it where it is the item.
//
// In a StatusNotifierItem host the item is the application's own (StatusNotifierItem): the host
// draws the menu itself, or asks for it with the icon's position, where it then opens. In an
// XEmbed tray it is Qt's tray icon, whose menu opens under the mouse pointer on either click; Qt
// decides once per process which kind its tray icons are, so it only ever makes XEmbed icons here.
class QtStatusItem final : public StatusItem, public std::enable_shared_from_this<QtStatusItem> {
public:
    using Patience = StatusPlacement::Patience;
    using Shown = StatusPlacement::Shown;

    // Follows `hosts` from now on. Needs the application object.
    static std::shared_ptr<QtStatusItem> create(std::shared_ptr<TrayHosts> hosts, Patience patience);
    ~QtStatusItem() override;

    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    std::shared_ptr<StatusButton> button() override { return m_button; }
    // A menu made by another binding is kept but not shown.
    void setMenu(std::shared_ptr<Menu> menu) override;
    void activate();

    // Called when the user closes the window, which quits the application as its menu's quit does.
    std::function<void()> onCloseRequested;

    Shown shown() const { return m_placement.state().shown; }
    bool inTray() const { return m_placement.inTray(); }
    const std::shared_ptr<QtStatusButton>& qtButton() const { return m_button; }
    const std::shared_ptr<Menu>& menu() const { return m_menu; }
    // The item of StatusNotifierItem hosts and the XEmbed tray icon, once such a tray was there;
    // the window, once it was shown.
    StatusNotifierItem* statusNotifier() const { return m_statusNotifier.get(); }
    QSystemTrayIcon* tray() const { return m_tray.get(); }
    QtStatusWindow* window() const { return m_window.get(); }

private:
    QtStatusItem(std::shared_ptr<TrayHosts> hosts, Patience patience);
    void carryOut(const StatusPlacement::State& state);
    bool offerStatusNotifier();
    void showXEmbedIcon();
    void presentWindow();
    void attachMenu();
    void popUpMenu(QPoint at);
    void buttonChanged(QtStatusButton::Change change);

    std::shared_ptr<TrayHosts> m_hosts;
    StatusPlacement m_placement;
    std::shared_ptr<QtStatusButton> m_button = std::make_shared<QtStatusButton>();
    std::shared_ptr<Menu> m_menu;
    Shown m_shown = Shown::nothing;
    QtOwned<QTimer> m_wait;
    QtOwned<StatusNotifierItem> m_statusNotifier;
    QtOwned<QSystemTrayIcon> m_tray;
    QtOwned<QtStatusWindow> m_window;
    QMetaObject::Connection m_leftClick;
};

} // namespace quenlitor::platform::qt
