#include "MemoryMenu.hpp"

#include <algorithm>

namespace quenlitor::platform::memory {

void MemoryMenuItem::choose() {
    if (m_enabled && m_action) {
        // A copy: the action may rebuild the menu and release this item's action meanwhile.
        const Action action = m_action;
        action(*this);
    }
}

void MemoryMenu::open() {
    if (const auto delegate = m_delegate.lock()) {
        delegate->menuWillOpen(*this);
    }
}

void MemoryMenu::close() {
    if (const auto delegate = m_delegate.lock()) {
        delegate->menuDidClose(*this);
    }
}

std::shared_ptr<MemoryMenuItem> MemoryMenu::item(std::string_view title) const {
    const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const auto& item) { return item->title() == title; });
    return found == m_items.end() ? nullptr : std::dynamic_pointer_cast<MemoryMenuItem>(*found);
}

std::shared_ptr<MemoryMenuItem> MemoryMenu::itemAt(std::size_t index) const {
    return index < m_items.size() ? std::dynamic_pointer_cast<MemoryMenuItem>(m_items[index]) : nullptr;
}

std::vector<std::string> MemoryMenu::titles() const {
    std::vector<std::string> titles;
    for (const auto& item : m_items) {
        titles.push_back(item->isSeparator() ? "-" : item->title());
    }
    return titles;
}

std::shared_ptr<MemoryMenu> submenuOf(const MenuItem& item) { return std::dynamic_pointer_cast<MemoryMenu>(item.submenu()); }

} // namespace quenlitor::platform::memory
