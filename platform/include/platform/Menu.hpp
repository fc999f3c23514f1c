#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quenlitor::platform {

class Menu;

// What a menu item carries for its command: nothing, a text or a 32-bit signed number. It comes
// back unchanged when the item is chosen.
using RepresentedValue = std::variant<std::monostate, std::string, std::int32_t>;

// One entry of a menu, or a separator. Items are enabled exactly as set: the desktop never
// enables or disables them by itself.
class MenuItem {
public:
    // Called on the main thread when the user chooses the item, with the item itself.
    using Action = std::function<void(MenuItem& sender)>;

    virtual ~MenuItem() = default;

    virtual bool isSeparator() const = 0;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    // An item without an action does nothing when chosen.
    virtual void setAction(Action action) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    // The checkmark.
    virtual bool state() const = 0;
    virtual void setState(bool on) = 0;
    virtual std::optional<std::string> toolTip() const = 0;
    // None clears it.
    virtual void setToolTip(const std::optional<std::string>& toolTip) = 0;
    virtual std::shared_ptr<Menu> submenu() const = 0;
    virtual void setSubmenu(std::shared_ptr<Menu> submenu) = 0;
    virtual RepresentedValue representedValue() const = 0;
    virtual void setRepresentedValue(RepresentedValue value) = 0;
};

// Told, on the main thread, when a menu is about to open and when it has closed. Every desktop
// reports both, so a delegate may leave a closed menu as it is and bring it up to date when it
// opens: a tray host that shows the menu over D-Bus is sent every change of every item.
class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuWillOpen(Menu& menu) = 0;
    virtual void menuDidClose(Menu& menu) = 0;
};

// An ordered list of items, shown by the status item or as a submenu.
class Menu {
public:
    virtual ~Menu() = default;

    // The delegate is held weakly; a delegate that is gone is not told anything.
    virtual void setDelegate(std::weak_ptr<MenuDelegate> delegate) = 0;
    virtual void removeAllItems() = 0;
    virtual void addItem(std::shared_ptr<MenuItem> item) = 0;
    virtual std::vector<std::shared_ptr<MenuItem>> items() const = 0;
};

// Makes the desktop's menus and items.
class MenuFactory {
public:
    virtual ~MenuFactory() = default;

    virtual std::shared_ptr<Menu> makeMenu() = 0;
    // An enabled item with `title`, no action, no checkmark, no tool tip, no submenu, no value.
    virtual std::shared_ptr<MenuItem> makeItem(const std::string& title) = 0;
    virtual std::shared_ptr<MenuItem> makeSeparator() = 0;
};

} // namespace quenlitor::platform
