// The application's menus as Qt shows them, and what choosing an item tells the application.
#include "platform/qt/QtMenu.hpp"

#include "QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <QMenu>

#include <optional>

namespace quenlitor::platform::qt {
namespace {

TEST(QtMenu, ShowsItemsExactlyAsSet) {
    const struct {
        std::string title;
        bool enabled;
        std::optional<bool> state;
        QString shown;
        QString toolTip;
    } rows[] = {
        {"Piano & Órgano", true, false, "Piano && Órgano", "Piano & Órgano"},
        {"Puerto\t1\nsalida", false, {}, "Puerto 1 salida", "Puerto\t1\nsalida"},
        {"<b>MIDI</b>", true, true, "<b>MIDI</b>", "<p>&lt;b&gt;MIDI&lt;/b&gt;</p>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        const auto item = QtMenuItem::create(row.title, false);
        item->setEnabled(row.enabled);
        if (row.state) {
            item->setState(*row.state);
        }
        item->setToolTip(row.title);
        const QAction& action = *item->action();
        EXPECT_EQ(action.text(), row.shown);
        EXPECT_EQ(action.toolTip(), row.toolTip);
        EXPECT_EQ(action.isEnabled(), row.enabled);
        EXPECT_EQ(action.isCheckable(), row.state.has_value()) << "no check box on an item without a mark";
        EXPECT_EQ(action.isChecked(), row.state.value_or(false));
    }
    const auto menu = QtMenu::create();
    const auto submenu = QtMenu::create();
    const auto inputs = QtMenuItem::create("Entradas MIDI", false);
    inputs->setSubmenu(submenu);
    menu->addItem(QtMenuItem::create({}, true));
    menu->addItem(inputs);
    EXPECT_TRUE(menu->qmenu()->toolTipsVisible());
    EXPECT_TRUE(menu->qmenu()->actions().at(0)->isSeparator());
    EXPECT_EQ(menu->qmenu()->actions().at(1)->menu(), submenu->qmenu());
    menu->removeAllItems();
    EXPECT_TRUE(menu->qmenu()->actions().isEmpty());
    EXPECT_TRUE(menu->items().empty());
}

// A tray host over D-Bus may ask for a disabled item all the same; Qt flips a checkable action's
// mark when it is chosen, yet the mark shows only what the application set; an action may rebuild
// the menu it was chosen from, releasing its own item.
TEST(QtMenuItem, ChoosingCallsAnEnabledItemsActionAndKeepsTheApplicationsMark) {
    const auto menu = QtMenu::create();
    std::vector<std::string> calls;
    {
        const auto item = QtMenuItem::create("Incluir título", false);
        item->setState(true);
        item->setEnabled(false);
        item->setAction([&](MenuItem& chosen) { calls.push_back(chosen.title()); });
        item->action()->trigger();
        item->setEnabled(true);
        item->action()->trigger();
        EXPECT_TRUE(item->action()->isChecked());
        item->setAction(nullptr);
        item->action()->trigger();
        item->setAction([&](MenuItem& chosen) {
            menu->removeAllItems();
            menu->addItem(QtMenuItem::create("Reanudar captura", false));
            // The item, its action and this very function are now held by nothing but the call.
            chosen.setAction(nullptr);
            calls.push_back(chosen.title());
        });
        menu->addItem(item);
    }
    menu->qmenu()->actions().front()->trigger();
    testing::deleteLaterObjects();
    EXPECT_EQ(calls, (std::vector<std::string>{"Incluir título", "Incluir título"}));
    EXPECT_EQ(menu->qmenu()->actions().front()->text(), QStringLiteral("Reanudar captura"));
}

} // namespace
} // namespace quenlitor::platform::qt
