#include "platform/qt/QtMenu.hpp"

#include "QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <QMenu>

#include <climits>

namespace quenlitor::platform::qt {
namespace {

using testing::deleteLaterObjects;

QStringList shownTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

// Counts openings and closings; rebuilds the menu it is told about when given a rebuild.
struct CountingDelegate final : MenuDelegate {
    int openings = 0;
    int closings = 0;
    std::function<void(Menu&)> rebuild;
    void menuWillOpen(Menu& menu) override {
        ++openings;
        if (rebuild) {
            rebuild(menu);
        }
    }
    void menuDidClose(Menu&) override { ++closings; }
};

TEST(QtMenu, ShowsItemsExactlyAsSet) {
    QtMenuFactory factory;
    const auto menu = std::dynamic_pointer_cast<QtMenu>(factory.makeMenu());
    const auto heading = factory.makeItem("Quenlitor MIDI a Texto");
    heading->setEnabled(false);
    const auto title = factory.makeItem("Incluir título del esquema");
    title->setState(true);
    title->setAction([](MenuItem&) {});
    const auto inputs = factory.makeItem("Entradas MIDI");
    const auto inputsMenu = factory.makeMenu();
    const auto source = factory.makeItem("Teclado USB");
    source->setState(false);
    inputsMenu->addItem(source);
    inputs->setSubmenu(inputsMenu);
    inputs->setEnabled(false);
    const auto token = factory.makeItem("\"Cmaj7\" C4 E G B .");
    token->setToolTip("\"Cmaj7\" C4 E G B .");
    for (const auto& item : {heading, factory.makeSeparator(), title, inputs, token}) {
        menu->addItem(item);
    }

    const QMenu& shown = *menu->qmenu();
    EXPECT_EQ(shownTexts(shown), (QStringList{"Quenlitor MIDI a Texto", "-", "Incluir título del esquema",
                                              "Entradas MIDI", "\"Cmaj7\" C4 E G B ."}));
    EXPECT_TRUE(shown.toolTipsVisible());
    const QList<QAction*> actions = shown.actions();
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[2]->isEnabled());
    EXPECT_TRUE(actions[2]->isCheckable() && actions[2]->isChecked());
    EXPECT_FALSE(actions[0]->isCheckable()) << "an item without a checkmark shows no check box";
    EXPECT_FALSE(actions[3]->isEnabled()) << "an item with a submenu is not enabled by Qt";
    EXPECT_EQ(actions[3]->menu(), std::dynamic_pointer_cast<QtMenu>(inputsMenu)->qmenu());
    const QAction* sourceAction = std::dynamic_pointer_cast<QtMenuItem>(source)->action();
    EXPECT_TRUE(sourceAction->isCheckable() && !sourceAction->isChecked());
    EXPECT_EQ(actions[4]->toolTip(), QStringLiteral("\"Cmaj7\" C4 E G B ."));

    menu->removeAllItems();
    EXPECT_TRUE(shown.actions().isEmpty());
    EXPECT_TRUE(menu->items().empty());
}

TEST(QtMenuItem, TitleIsShownAsWritten) {
    const struct {
        std::string title;
        QString shown;
        QString toolTip;
    } rows[] = {
        {"Piano & Órgano", "Piano && Órgano", "Piano & Órgano"},
        {"“CΔ7” C4 E G B .", "“CΔ7” C4 E G B .", "“CΔ7” C4 E G B ."},
        {"Puerto\t1\nsalida", "Puerto 1 salida", "Puerto\t1\nsalida"},
        {"<b>MIDI</b>", "<b>MIDI</b>", "<p>&lt;b&gt;MIDI&lt;/b&gt;</p>"},
        {"", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        const auto item = QtMenuItem::create(row.title, false);
        item->setToolTip(row.title);
        EXPECT_EQ(item->action()->text(), row.shown);
        EXPECT_EQ(item->title(), row.title);
        EXPECT_EQ(item->action()->toolTip(), row.toolTip);
        EXPECT_EQ(item->toolTip(), row.title);
    }
}

TEST(QtMenuItem, ChoosingCallsTheActionWithTheItemAndItsValue) {
    const RepresentedValue values[] = {std::monostate{}, std::string("\"C\" C4 ."), std::int32_t{-7},
                                       std::int32_t{INT32_MIN}, std::int32_t{INT32_MAX}};
    for (const RepresentedValue& value : values) {
        SCOPED_TRACE(value.index());
        const auto item = QtMenuItem::create("Copiar último token", false);
        item->setRepresentedValue(value);
        const MenuItem* sender = nullptr;
        RepresentedValue received;
        item->setAction([&](MenuItem& chosen) {
            sender = &chosen;
            received = chosen.representedValue();
        });
        item->action()->trigger();
        EXPECT_EQ(sender, item.get());
        EXPECT_EQ(received, value);
    }
    // A tray host over D-Bus may ask for a disabled item all the same.
    int calls = 0;
    const auto item = QtMenuItem::create("Reiniciar notas retenidas", false);
    item->setAction([&](MenuItem&) { ++calls; });
    item->setEnabled(false);
    item->action()->trigger();
    item->setEnabled(true);
    item->action()->trigger();
    item->setAction(nullptr);
    item->action()->trigger();
    EXPECT_EQ(calls, 1) << "only the enabled item with an action";
}

// Qt toggles a checkable action when it is chosen.
TEST(QtMenuItem, CheckmarkShowsOnlyWhatTheApplicationSet) {
    for (const bool before : {false, true}) {
        for (const std::optional<bool> set : {std::optional<bool>(), std::optional<bool>(!before)}) {
            SCOPED_TRACE(::testing::Message() << before << " then " << set.value_or(before));
            const auto item = QtMenuItem::create("Teclado USB", false);
            item->setState(before);
            item->setAction([&](MenuItem& chosen) {
                if (set) {
                    chosen.setState(*set);
                }
            });
            item->action()->trigger();
            EXPECT_EQ(item->state(), set.value_or(before));
            EXPECT_EQ(item->action()->isChecked(), set.value_or(before));
        }
    }
}

TEST(QtMenuItem, ActionMayRebuildTheMenuItWasChosenFrom) {
    const auto menu = QtMenu::create();
    int calls = 0;
    {
        const auto item = QtMenuItem::create("Pausar captura", false);
        item->setAction([&, weakMenu = std::weak_ptr<QtMenu>(menu)](MenuItem& chosen) {
            ++calls;
            const auto rebuilt = weakMenu.lock();
            rebuilt->removeAllItems();
            rebuilt->addItem(QtMenuItem::create("Reanudar captura", false));
            // The item, its action and this very function are now held by nothing but the call.
            chosen.setAction(nullptr);
            EXPECT_EQ(chosen.title(), "Pausar captura");
        });
        menu->addItem(item);
    }
    menu->qmenu()->actions().front()->trigger();
    deleteLaterObjects();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shownTexts(*menu->qmenu()), QStringList{"Reanudar captura"});
}

TEST(QtMenu, OpeningAndClosingTellTheDelegateWhichMayRebuild) {
    const auto menu = QtMenu::create();
    int openings = 0;
    auto delegate = std::make_shared<CountingDelegate>();
    delegate->rebuild = [&](Menu& opened) {
        ++openings;
        opened.removeAllItems();
        opened.addItem(QtMenuItem::create("Escuchando · 1 entrada MIDI", false));
    };
    menu->setDelegate(delegate);
    menu->addItem(QtMenuItem::create("viejo", false));

    menu->qmenu()->popup(QPoint(10, 10));
    EXPECT_EQ(openings, 1);
    EXPECT_EQ(delegate->closings, 0);
    EXPECT_EQ(shownTexts(*menu->qmenu()), QStringList{"Escuchando · 1 entrada MIDI"});
    menu->qmenu()->hide();
    EXPECT_EQ(delegate->closings, 1);

    delegate.reset();
    menu->qmenu()->popup(QPoint(10, 10));
    menu->qmenu()->hide();
    EXPECT_EQ(openings, 1) << "a delegate that is gone is not told";
}

} // namespace
} // namespace quenlitor::platform::qt
