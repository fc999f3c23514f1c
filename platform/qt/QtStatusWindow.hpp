#pragma once

#include <QIcon>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace quenlitor::platform::qt {

class QtMenu;

// The status item where the desktop has no tray: a small window that lays out the status menu's
// items in their order, with their texts, enabled states, checkmarks, tool tips and submenus,
// following every change the application makes to them. Lines without a command are labels,
// commands are buttons, items with a checkmark are check boxes, submenus are buttons that open the
// submenu itself, separators are lines.
//
// For the menu's delegate the window is the menu shown: showing the window opens the menu, hiding
// it closes the menu, and choosing a command closes the menu and opens it again, as a menu chosen
// from and then opened anew would. Closing the window (its close button, Alt+F4) asks to quit.
class QtStatusWindow final : public QWidget {
public:
    QtStatusWindow();
    ~QtStatusWindow() override;

    // The menu whose items the window shows; none shows an empty window.
    void setMenu(std::shared_ptr<QtMenu> menu);
    void setTitle(const QString& title);
    void setIcon(const QIcon& icon);
    // Opens the menu, lays out its items and shows the window, never minimised, raised and asking
    // for the keyboard focus: on a desktop without a task bar a window out of sight is lost.
    void present();

    // Called when the user closes the window.
    std::function<void()> onCloseRequested;

    // The widget laid out for the menu's item at `index` (null past the end), and how many there are.
    QWidget* itemWidget(int index) const;
    int itemCount() const { return static_cast<int>(m_itemWidgets.size()); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open();
    void closeMenu();
    void layOutItems();
    void scheduleLayout();
    void reopenAfterChoice();

    std::shared_ptr<QtMenu> m_menu;
    QLabel* m_icon = nullptr;
    QVBoxLayout* m_items = nullptr;
    std::vector<QWidget*> m_itemWidgets;
    bool m_layoutScheduled = false;
    bool m_open = false;
};

} // namespace quenlitor::platform::qt
