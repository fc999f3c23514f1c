#pragma once

#include "QtOwnership.hpp"
#include "platform/Menu.hpp"

#include <QAction>
#include <QMenu>

#include <memory>
#include <string>

namespace quenlitor::platform::qt {

class QtMenu;

// A menu item over a QAction that belongs to it. The item keeps what the application set (title,
// checkmark, represented value) and shows it through the action: '&' is shown as itself, never as
// a keyboard accelerator; an item with a checkmark set is checkable from then on.
class QtMenuItem final : public MenuItem, public std::enable_shared_from_this<QtMenuItem> {
public:
    static std::shared_ptr<QtMenuItem> create(const std::string& title, bool separator);

    bool isSeparator() const override { return m_separator; }
    std::string title() const override { return m_title; }
    void setTitle(const std::string& title) override;
    void setAction(Action action) override { m_action = std::move(action); }
    // Whether choosing the item runs a command.
    bool hasAction() const { return static_cast<bool>(m_action); }
    bool isEnabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override;
    bool state() const override { return m_state; }
    void setState(bool on) override;
    std::optional<std::string> toolTip() const override { return m_toolTip; }
    void setToolTip(const std::optional<std::string>& toolTip) override;
    std::shared_ptr<Menu> submenu() const override { return m_submenu; }
    // A submenu made by another binding is kept but not shown.
    void setSubmenu(std::shared_ptr<Menu> submenu) override;
    RepresentedValue representedValue() const override { return m_value; }
    void setRepresentedValue(RepresentedValue value) override { m_value = std::move(value); }

    // The action shown in the menus; triggering it chooses the item.
    QAction* action() const { return m_qaction.get(); }

private:
    QtMenuItem(std::string title, bool separator);
    void chosen();

    std::string m_title;
    bool m_separator;
    Action m_action;
    bool m_enabled = true;
    bool m_state = false;
    std::optional<std::string> m_toolTip;
    std::shared_ptr<Menu> m_submenu;
    RepresentedValue m_value;
    QtOwned<QAction> m_qaction;
};

// A menu over a QMenu that belongs to it, showing tool tips, never enabling items by itself.
//
// The delegate is told of the menu's openings and closings as its views (MenuViews: Qt's popup,
// the status window, tray hosts over D-Bus) show it and stop: each opening of one of them rebuilds
// the menu, and the delegate never hears two openings without a closing between them.
class QtMenu final : public Menu, public std::enable_shared_from_this<QtMenu> {
public:
    static std::shared_ptr<QtMenu> create();
    ~QtMenu() override;

    void setDelegate(std::weak_ptr<MenuDelegate> delegate) override { m_delegate = std::move(delegate); }
    void removeAllItems() override;
    // An item made by another binding is listed but not shown.
    void addItem(std::shared_ptr<MenuItem> item) override;
    std::vector<std::shared_ptr<MenuItem>> items() const override { return m_items; }

    QMenu* qmenu() const { return m_qmenu.get(); }

private:
    QtMenu();
    void reportOpening();
    void reportClosing();

    std::weak_ptr<MenuDelegate> m_delegate;
    std::vector<std::shared_ptr<MenuItem>> m_items;
    QtOwned<QMenu> m_qmenu;
};

class QtMenuFactory final : public MenuFactory {
public:
    std::shared_ptr<Menu> makeMenu() override { return QtMenu::create(); }
    std::shared_ptr<MenuItem> makeItem(const std::string& title) override { return QtMenuItem::create(title, false); }
    std::shared_ptr<MenuItem> makeSeparator() override { return QtMenuItem::create(std::string{}, true); }
};

} // namespace quenlitor::platform::qt
