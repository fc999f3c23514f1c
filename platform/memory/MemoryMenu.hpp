#pragma once

#include "platform/Menu.hpp"

#include <string_view>

namespace quenlitor::platform::memory {

// A menu item that is just its fields; tests read them and choose the item.
class MemoryMenuItem final : public MenuItem {
public:
    MemoryMenuItem(std::string title, bool separator) : m_title(std::move(title)), m_separator(separator) {}

    bool isSeparator() const override { return m_separator; }
    std::string title() const override { return m_title; }
    void setTitle(const std::string& title) override { m_title = title; }
    void setAction(Action action) override { m_action = std::move(action); }
    bool isEnabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool state() const override { return m_state; }
    void setState(bool on) override { m_state = on; }
    std::optional<std::string> toolTip() const override { return m_toolTip; }
    void setToolTip(const std::optional<std::string>& toolTip) override { m_toolTip = toolTip; }
    std::shared_ptr<Menu> submenu() const override { return m_submenu; }
    void setSubmenu(std::shared_ptr<Menu> submenu) override { m_submenu = std::move(submenu); }
    RepresentedValue representedValue() const override { return m_value; }
    void setRepresentedValue(RepresentedValue value) override { m_value = std::move(value); }

    bool hasAction() const { return static_cast<bool>(m_action); }
    // What the user's click does: nothing for a disabled item or one without an action.
    void choose();

private:
    std::string m_title;
    bool m_separator;
    Action m_action;
    bool m_enabled = true;
    bool m_state = false;
    std::optional<std::string> m_toolTip;
    std::shared_ptr<Menu> m_submenu;
    RepresentedValue m_value;
};

// An ordered list of items that tests open and walk as a tree.
class MemoryMenu final : public Menu {
public:
    void setDelegate(std::weak_ptr<MenuDelegate> delegate) override { m_delegate = std::move(delegate); }
    void removeAllItems() override { m_items.clear(); }
    void addItem(std::shared_ptr<MenuItem> item) override { m_items.push_back(std::move(item)); }
    std::vector<std::shared_ptr<MenuItem>> items() const override { return m_items; }

    // Tells the delegate the menu is about to open, as a click on the status item does.
    void open();
    // Tells the delegate the menu has closed, as choosing an item or clicking elsewhere does.
    void close();
    // The first item titled `title`, at this level only; null when there is none.
    std::shared_ptr<MemoryMenuItem> item(std::string_view title) const;
    // The item at `index`; null past the end.
    std::shared_ptr<MemoryMenuItem> itemAt(std::size_t index) const;
    // The titles in order, "-" for a separator.
    std::vector<std::string> titles() const;

private:
    std::weak_ptr<MenuDelegate> m_delegate;
    std::vector<std::shared_ptr<MenuItem>> m_items;
};

// The submenu of `item` as a memory menu; null when it has none.
std::shared_ptr<MemoryMenu> submenuOf(const MenuItem& item);

class MemoryMenuFactory final : public MenuFactory {
public:
    std::shared_ptr<Menu> makeMenu() override { return std::make_shared<MemoryMenu>(); }
    std::shared_ptr<MenuItem> makeItem(const std::string& title) override {
        return std::make_shared<MemoryMenuItem>(title, false);
    }
    std::shared_ptr<MenuItem> makeSeparator() override { return std::make_shared<MemoryMenuItem>(std::string{}, true); }
};

} // namespace quenlitor::platform::memory
