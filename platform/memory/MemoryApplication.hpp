#pragma once

#include "platform/Application.hpp"
#include "platform/Menu.hpp"

#include <optional>
#include <vector>

namespace quenlitor::platform::memory {

// A status button that records what it shows.
class MemoryStatusButton final : public StatusButton {
public:
    bool setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) override {
        if (!hasSymbols) {
            return false;
        }
        symbol = std::string(symbolName);
        imageDescription = std::string(accessibilityDescription);
        return true;
    }
    void setTitle(const std::string& text) override { title = text; }
    void setToolTip(const std::string& text) override { toolTip = text; }
    void setAccessibilityLabel(const std::string& text) override { accessibilityLabel = text; }
    void setAppearsDisabled(bool disabled) override {
        appearanceChanges += disabled != appearsDisabled ? 1 : 0;
        appearsDisabled = disabled;
    }

    bool hasSymbols = true;
    std::optional<std::string> symbol;
    std::optional<std::string> imageDescription;
    std::optional<std::string> title;
    std::optional<std::string> toolTip;
    std::optional<std::string> accessibilityLabel;
    bool appearsDisabled = false;
    // Each change of appearance: on a real tray, the icon drawn again.
    int appearanceChanges = 0;
};

class MemoryStatusItem final : public StatusItem {
public:
    explicit MemoryStatusItem(bool withButton) : m_button(withButton ? std::make_shared<MemoryStatusButton>() : nullptr) {}

    std::shared_ptr<StatusButton> button() override { return m_button; }
    void setMenu(std::shared_ptr<Menu> menu) override { m_menu = std::move(menu); }

    const std::shared_ptr<MemoryStatusButton>& memoryButton() const { return m_button; }
    const std::shared_ptr<Menu>& menu() const { return m_menu; }

private:
    std::shared_ptr<MemoryStatusButton> m_button;
    std::shared_ptr<Menu> m_menu;
};

// An application object without an event loop: run() launches and returns at once, so a test
// drives everything that follows by hand; terminate() runs the termination callback once.
class MemoryApplication final : public Application {
public:
    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override { m_delegate = std::move(delegate); }
    int run() override;
    void terminate() override;
    std::shared_ptr<StatusItem> makeStatusItem() override;

    std::shared_ptr<ApplicationDelegate> delegate() const { return m_delegate.lock(); }

    bool statusItemsHaveButtons = true;
    std::vector<std::shared_ptr<MemoryStatusItem>> statusItems;
    int terminateRequests = 0;
    bool terminated = false;

private:
    std::weak_ptr<ApplicationDelegate> m_delegate;
};

} // namespace quenlitor::platform::memory
