#pragma once

#include "QtOwnership.hpp"
#include "platform/Application.hpp"

#include <QIcon>
#include <QMetaObject>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>
#include <string>

namespace quenlitor::platform::qt {

// The tray icon. Trays show no text beside an icon: the title is kept but not shown, and the tool
// tip is the tool tip text alone (a title above it would read as stray letters over the text). The
// accessibility label becomes the application's name and display name, which StatusNotifierItem
// hosts show as the item's title and screen readers announce, and the accessible name of the menu.
//
// The one symbol known is "pianokeys": the application's piano keys, light keys inside dark lines
// so that they read on any panel. Dimmed, they are drawn at reduced opacity.
class QtStatusButton final : public StatusButton {
public:
    // Shows the piano keys in the tray at once, so the item is never an empty slot.
    QtStatusButton();
    ~QtStatusButton() override;

    QtStatusButton(const QtStatusButton&) = delete;
    QtStatusButton& operator=(const QtStatusButton&) = delete;

    bool setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) override;
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;
    void setAccessibilityLabel(const std::string& label) override;
    void setAppearsDisabled(bool disabled) override;

    QSystemTrayIcon& tray() const { return *m_tray; }
    bool appearsDisabled() const { return m_appearsDisabled; }
    // The label, or the image's description when no label was set.
    QString accessibleName() const;
    const std::string& title() const { return m_title; }

private:
    std::string m_title;
    std::string m_toolTip;
    std::string m_label;
    std::string m_imageDescription;
    bool m_appearsDisabled = false;
    QIcon m_icon;
    QIcon m_dimmedIcon;
    QtOwned<QSystemTrayIcon> m_tray;
};

// The application's item in the system tray, shown from its creation. Its menu opens on a right
// click, as trays do, and on a left click too, as the status item's menu does.
class QtStatusItem final : public StatusItem {
public:
    QtStatusItem();
    ~QtStatusItem() override;

    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    std::shared_ptr<StatusButton> button() override { return m_button; }
    // A menu made by another binding is kept but not shown.
    void setMenu(std::shared_ptr<Menu> menu) override;

    const std::shared_ptr<QtStatusButton>& qtButton() const { return m_button; }
    const std::shared_ptr<Menu>& menu() const { return m_menu; }

    // Whether the desktop has a system tray to show the item in now. Needs the application object.
    static bool isSystemTrayAvailable();

private:
    std::shared_ptr<QtStatusButton> m_button;
    std::shared_ptr<Menu> m_menu;
    QMetaObject::Connection m_leftClick;
};

} // namespace quenlitor::platform::qt
