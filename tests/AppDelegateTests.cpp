// The tray application's start-up, menu and commands, driven headless on the in-memory desktop.
#include "AppDelegate.hpp"
#include "TextCuts.hpp"
#include "platform/memory/MemoryApplication.hpp"
#include "platform/memory/MemoryBundleResources.hpp"
#include "platform/memory/MemoryClipboard.hpp"
#include "platform/memory/MemoryMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"
#include "platform/memory/MemoryMenu.hpp"
#include "platform/memory/MemoryRunningInstances.hpp"
#include "platform/memory/MemorySettingsStore.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ranges>

namespace quenlitor {
namespace {

using namespace platform::memory;
using platform::SettingsArray;
using platform::SettingsValue;
using Lines = std::vector<std::string>;

constexpr std::string_view dictionary =
    R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}, {"nombre": "m", "obligatorias": [0, 3, 7]}]})";
const MemoryMIDIPlatform::Source keyboard{.endpoint = 7, .name = "Teclado", .uniqueID = {0, 42}};

// Items `first` to `last`: title ("-" for a separator), " [off]" when disabled, " [x]" when checked.
Lines shown(const MemoryMenu& menu, std::size_t first = 0, std::size_t last = SIZE_MAX) {
    Lines lines;
    for (const auto& item : menu.items() | std::views::drop(first) | std::views::take(last - first)) {
        lines.push_back((item->isSeparator() ? "-" : item->title()) + (item->isEnabled() ? "" : " [off]") +
                        (item->state() ? " [x]" : ""));
    }
    return lines;
}

class AppDelegateTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryApplication> application = std::make_shared<MemoryApplication>();
    std::shared_ptr<MemoryClipboard> clipboard = std::make_shared<MemoryClipboard>();
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<MemoryBundleResources> bundle = std::make_shared<MemoryBundleResources>();
    std::shared_ptr<MemoryRunningInstances> running = std::make_shared<MemoryRunningInstances>();
    std::shared_ptr<MemoryMIDIPlatform> midi = std::make_shared<MemoryMIDIPlatform>();
    std::shared_ptr<MemoryMainQueue> queue = std::make_shared<MemoryMainQueue>();
    std::shared_ptr<AppDelegate> app;

    void SetUp() override { bundle->addResource("diccionario_acordes", "json", dictionary); }
    // Opens the menu too, as the user reads it; the test of the closed menu closes it again.
    void launch(std::vector<MemoryMIDIPlatform::Source> sources = {keyboard}) {
        midi->setSources(std::move(sources));
        application = std::make_shared<MemoryApplication>();
        app = std::make_shared<AppDelegate>(platform::Desktop{application, std::make_shared<MemoryMenuFactory>(), clipboard,
                                                              settings, bundle, running, midi, queue});
        application->setDelegate(app);
        application->run();
        queue->runAll();
        menu().open();
    }
    MemoryMenu& menu() const { return dynamic_cast<MemoryMenu&>(*app->menu()); }
    std::shared_ptr<MemoryMenuItem> item(std::string_view title) const { return menu().item(title); }
    std::string line(std::size_t index) const { return menu().itemAt(index)->title(); }
    std::shared_ptr<MemoryMenu> submenu(std::string_view title) const { return submenuOf(*item(title)); }
    // Keys as the keyboard (endpoint 7) sends them and the main thread takes them in.
    void key(std::uint8_t note, bool down = true) {
        midi->deliver(7, {{std::uint8_t(down ? 0x90 : 0x80), note, std::uint8_t(down ? 100 : 0)}});
        queue->runAll();
    }
    void play(const std::vector<std::uint8_t>& notes) {
        std::ranges::for_each(notes, [&](std::uint8_t note) { key(note); });
        std::ranges::for_each(notes, [&](std::uint8_t note) { key(note, false); });
    }
    std::shared_ptr<MemoryStatusButton> button() const { return application->statusItems.at(0)->memoryButton(); }
};

TEST_F(AppDelegateTest, StartsWithItsStatusItemMenuAndServices) {
    launch();
    EXPECT_EQ(running->asked, Lines{std::string(platform::defaultApplicationId)});
    ASSERT_EQ(application->statusItems.size(), 1u);
    EXPECT_EQ(application->statusItems[0]->menu(), app->menu());
    EXPECT_EQ(Lines({*button()->symbol, *button()->title, *button()->toolTip, *button()->accessibilityLabel}),
              (Lines{"pianokeys", " QK", "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V", "Quenlitor MIDI a Texto"}));
    // The one check of the menu's layout; the platform layers only carry what this builds.
    EXPECT_EQ(shown(menu()), (Lines{"Quenlitor MIDI a Texto [off]", "Escuchando · 1 entrada MIDI [off]",
                                    "Toca una nota o un acorde. [off]", "-", "Todavía no hay un token [off]",
                                    "Copiar último token [off]", "Últimos tokens [off]", "-", "Entradas MIDI",
                                    "Pausar captura", "Incluir título del esquema [x]", "Reiniciar notas retenidas", "-",
                                    "Cómo usar", "Salir"}));
    EXPECT_EQ(submenu("Cómo usar")->titles().at(8), "Reconocimiento: MIDI Piano Quenlitor · 110 acordes.");
    EXPECT_EQ(shown(*submenu("Entradas MIDI")), (Lines{"Teclado [x]", "-", "Activar todas las entradas", "Actualizar lista"}));
}

TEST_F(AppDelegateTest, GestureReachesTheClipboardAndTheMenu) {
    launch();
    play({60}), play({62}), play({57, 60, 64});
    EXPECT_EQ(clipboard->text(), "\"Am\" A3 C E .");
    EXPECT_EQ(shown(menu(), 2, 7), (Lines{"Copiado: Am [off]", "-", "\"Am\" A3 C E . [off]", "Copiar último token",
                                          "Últimos tokens"}));
    EXPECT_EQ(menu().itemAt(4)->toolTip(), "\"Am\" A3 C E .");
    const auto recent = submenu("Últimos tokens");
    EXPECT_EQ(recent->titles(), (Lines{"\"Am\" A3 C E .", "\"D4\" D4 .", "\"C4\" C4 ."}));
    recent->itemAt(1)->choose();
    EXPECT_EQ(clipboard->text(), "\"D4\" D4 .");
    item("Copiar último token")->choose();
    EXPECT_EQ(clipboard->text(), "\"Am\" A3 C E .");
    // An entry whose value is not a text, or whose text has left the history, does nothing.
    recent->itemAt(1)->setRepresentedValue(std::int32_t{3});
    recent->itemAt(1)->choose();
    recent->itemAt(2)->setRepresentedValue(std::string("\"G9\" G9 ."));
    recent->itemAt(2)->choose();
    EXPECT_EQ(clipboard->writeCount(), 5);
    // A refused copy that reaches the clipboard late shows in the menu.
    clipboard->refusesWrites = true;
    item("Copiar último token")->choose();
    EXPECT_EQ(line(2), "No se pudo copiar al portapapeles.");
    clipboard->writeLate("\"Am\" A3 C E .");
    EXPECT_EQ(line(2), "Copiado: Am");
}

TEST_F(AppDelegateTest, SecondInstanceQuitsBeforeShowingAnything) {
    bundle->identifier = "org.example.otro";
    running->heldElsewhere = {"org.example.otro"};
    launch();
    EXPECT_EQ(running->asked, Lines{"org.example.otro"});
    EXPECT_EQ(application->terminateRequests, 1);
    EXPECT_TRUE(application->statusItems.empty());
    EXPECT_EQ(midi->callCount("clientCreate"), 0u);
}

TEST_F(AppDelegateTest, MissingOrBrokenDictionaryLeavesTheMenuAlone) {
    const std::pair<std::function<void(MemoryBundleResources&)>, std::string> rows[] = {
        {[](auto& b) { b.files.clear(); }, "Falta el diccionario de acordes en la aplicación."},
        {[](auto& b) { b.readFailure = "Permiso denegado."; }, "Permiso denegado."},
        {[](auto& b) { b.outOfMemory = true; }, "No hay memoria para leer el diccionario de acordes."},
    };
    for (const auto& [breakIt, listening] : rows) {
        SCOPED_TRACE(listening);
        bundle = std::make_shared<MemoryBundleResources>();
        bundle->addResource("diccionario_acordes", "json", dictionary);
        breakIt(*bundle);
        midi = std::make_shared<MemoryMIDIPlatform>();
        launch();
        EXPECT_EQ(line(1), listening);
        EXPECT_EQ(shown(menu(), 2), (Lines{"No se pudo iniciar la captura. [off]", "-", "Todavía no hay un token [off]",
                                           "Copiar último token [off]", "Últimos tokens [off]", "-", "Entradas MIDI [off]",
                                           "Pausar captura [off]", "Incluir título del esquema [off]",
                                           "Reiniciar notas retenidas [off]", "-", "Cómo usar", "Salir"}));
        EXPECT_EQ(submenu("Entradas MIDI")->titles().at(0), "No hay entradas disponibles");
        item("Pausar captura")->setEnabled(true);
        item("Pausar captura")->choose(); // commands that need the controller do nothing
        application->terminate();
        EXPECT_EQ(midi->calls(), Lines{}) << "no MIDI client";
    }
}

TEST_F(AppDelegateTest, SettingsAreReadOnceAndMalformedOnesFallBack) {
    const struct { std::map<std::string, SettingsValue> stored; std::set<std::int32_t> disabled; bool includeTitle; } rows[] = {
        {{}, {}, true},
        {{{"disabledSources", SettingsArray{std::int64_t{5}, std::int64_t{-7}, std::int64_t{5}}}, {"includeTitle", false}}, {5, -7}, false},
        {{{"disabledSources", SettingsArray{std::int64_t{5}, std::string("7")}}, {"includeTitle", true}}, {}, true},
        {{{"disabledSources", std::string("5")}, {"includeTitle", std::int64_t{0}}}, {}, false},
        {{{"disabledSources", SettingsArray{std::int64_t{1} << 40, std::int64_t{3}}}}, {3}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.disabled));
        settings = std::make_shared<MemorySettingsStore>();
        settings->values = row.stored;
        launch();
        EXPECT_EQ(app->disabledSources(), row.disabled);
        EXPECT_EQ(item("Incluir título del esquema")->state(), row.includeTitle);
        EXPECT_EQ(settings->writeCount, 0);
    }
}

TEST_F(AppDelegateTest, DisabledSourcesAreNotConnectedAndTogglesWriteTheSetting) {
    settings->values["disabledSources"] = SettingsArray{std::int64_t{-7}};
    launch({{.endpoint = 7, .name = "Piano", .uniqueID = {0, 5}},
            {.endpoint = 2, .name = "Teclado 10", .uniqueID = {0, -7}},
            {.endpoint = 3, .name = "teclado 2", .uniqueID = {0, 9}}});
    EXPECT_EQ(shown(*submenu("Entradas MIDI")), (Lines{"Piano [x]", "teclado 2 [x]", "Teclado 10", "-",
                                                       "Activar todas las entradas", "Actualizar lista"}));
    // Switching off a connected source drops it and resets the capture.
    key(60);
    submenu("Entradas MIDI")->itemAt(0)->choose();
    EXPECT_EQ(shown(*submenu("Entradas MIDI"), 0, 3), (Lines{"Piano", "teclado 2 [x]", "Teclado 10"}));
    EXPECT_EQ(line(2), "Entrada desconectada; captura reiniciada.");
    EXPECT_EQ(settings->values.at("disabledSources"), SettingsValue(SettingsArray{std::int64_t{-7}, std::int64_t{5}}));
    submenu("Entradas MIDI")->item("Activar todas las entradas")->choose();
    EXPECT_EQ(settings->values.at("disabledSources"), SettingsValue(SettingsArray{}));
    EXPECT_EQ(line(1), "Escuchando · 3 entradas MIDI");
}

// Nothing listening must never read as "no input connected"; "Actualizar lista" opens the client
// again.
TEST_F(AppDelegateTest, ListeningThatStoppedIsShownAndCanStartAgain) {
    midi->setClientCreateStatus(-2);
    launch();
    const auto refresh = [&] { submenu("Entradas MIDI")->item("Actualizar lista")->choose(); };
    refresh();
    // Desktops that show no tool tips show the explanation as a submenu of the line.
    EXPECT_EQ(shown(menu())[1], "No se pudo crear el cliente MIDI (-2).") << "still nothing listens";
    EXPECT_EQ(menu().itemAt(1)->toolTip(), "No se pudo crear el cliente MIDI (-2).\nEstado -2.");
    EXPECT_EQ(submenuOf(*menu().itemAt(1))->titles(), (Lines{"No se pudo crear el cliente MIDI (-2).", "Estado -2."}));

    midi->setClientCreateStatus(0);
    refresh();
    EXPECT_EQ(shown(menu())[1], "Escuchando · 1 entrada MIDI [off]");
    EXPECT_EQ(menu().itemAt(1)->toolTip(), std::nullopt);
    EXPECT_FALSE(menu().itemAt(1)->submenu()) << "the line is read only again";

    midi->setSources({});
    midi->notifySetupChange();
    queue->runAll();
    EXPECT_EQ(line(1), "Sin entrada MIDI conectada");
}

// Error descriptions and source names come from elsewhere and may be of any length.
TEST_F(AppDelegateTest, ForeignTextsAreCutWithTheWholeTextInTheToolTip) {
    const std::string longName = "Controlador USB " + std::string(80, 'x');
    midi->setConnectStatus(1, -1234567);
    launch({{.endpoint = 1, .name = longName, .uniqueID = {0, 5}}});
    const auto entry = submenu("Entradas MIDI")->itemAt(0);
    EXPECT_EQ(entry->title(), firstCharacters(longName, 60) + "…");
    EXPECT_EQ(entry->toolTip(), longName);
    EXPECT_FALSE(entry->state()) << "the checkmark shows the connection";
    EXPECT_EQ(line(1), "No se pudo conectar una entrada MIDI (-1234567).") << "short texts stay whole";
    // The whole name where no tool tip shows, and the command the line is, under it.
    EXPECT_EQ(submenuOf(*entry)->titles(), (Lines{"Controlador USB", std::string(60, 'x'), std::string(20, 'x'), "-",
                                                  "Escuchar esta entrada"}));
    submenuOf(*entry)->itemAt(4)->choose();
    EXPECT_EQ(settings->values.at("disabledSources"), SettingsValue(SettingsArray{std::int64_t{5}}));

    bundle->addResource("diccionario_acordes", "json", R"({"chords": [{"nombre": "m", "obligatorias": [0, 3, [7]]}]})");
    launch();
    const std::string error = "El diccionario de acordes tiene un valor de tipo incorrecto en chords[0].obligatorias[2].";
    EXPECT_EQ(line(1), firstCharacters(error, 60) + "…");
    EXPECT_EQ(menu().itemAt(1)->toolTip(), error);
    EXPECT_EQ(submenuOf(*menu().itemAt(1))->titles(),
              (Lines{"El diccionario de acordes tiene un valor de tipo incorrecto", "en chords[0].obligatorias[2]."}));
}

// Every message updates the capture line; the history items and the icon are redrawn only when
// what they show changes. A tray host that shows the menu over D-Bus is sent every change of an
// item: while the menu is closed nothing in it changes, and its next opening shows it all as it is.
TEST_F(AppDelegateTest, MenuIsRedrawnOnlyWhereAndWhenSomethingChanged) {
    launch();
    play({60, 64, 67});
    const auto entry = submenu("Últimos tokens")->itemAt(0);
    const int appearanceChanges = button()->appearanceChanges;
    key(62);
    EXPECT_EQ(line(2), "Tocando: D4");
    EXPECT_EQ(submenu("Últimos tokens")->itemAt(0), entry);
    EXPECT_EQ(button()->appearanceChanges, appearanceChanges);

    menu().close();
    const auto before = std::tuple(menu().items(), menu().titles(), submenu("Entradas MIDI")->items());
    key(62, false);
    midi->addSource({.endpoint = 8, .name = "Otro", .uniqueID = {0, 43}});
    midi->notifySetupChange();
    queue->runAll();
    item("Pausar captura")->choose();
    EXPECT_EQ(button()->appearanceChanges, appearanceChanges + 1) << "the icon shows at all times";
    EXPECT_EQ(std::tuple(menu().items(), menu().titles(), submenu("Entradas MIDI")->items()), before);
    EXPECT_EQ(submenu("Últimos tokens")->titles(), Lines{"\"C\" C4 E G ."});

    menu().open();
    EXPECT_EQ(shown(menu(), 1, 5), (Lines{"Escuchando · 2 entradas MIDI [off]", "Captura en pausa [off]", "-", "\"D4\" D4 . [off]"}));
    EXPECT_EQ(submenu("Últimos tokens")->titles(), (Lines{"\"D4\" D4 .", "\"C\" C4 E G ."}));
    EXPECT_EQ(submenu("Entradas MIDI")->titles().size(), 5u);
}

TEST_F(AppDelegateTest, LongTokensAreCutInTheMenuButKeptWhole) {
    launch();
    std::vector<std::uint8_t> keys(88); // all 88 keys at once: far longer than any menu line
    std::iota(keys.begin(), keys.end(), std::uint8_t{21});
    play(keys);
    const std::string text = *clipboard->text();
    EXPECT_EQ(line(4), text.substr(0, 88) + "…");
    EXPECT_EQ(menu().itemAt(4)->toolTip(), text);
    // The whole token in the line's submenu, for desktops that show no tool tips.
    EXPECT_EQ(submenuOf(*menu().itemAt(4))->titles(), wrappedLines(text, 88));
    const auto entry = submenu("Últimos tokens")->itemAt(0);
    EXPECT_EQ(entry->title(), text.substr(0, 80));
    EXPECT_EQ(entry->toolTip(), text);
    // Where no tool tip shows, the entry opens the whole token and the copy command under it.
    const auto whole = submenuOf(*entry);
    EXPECT_EQ(whole->titles().back(), "Copiar este token");
    clipboard->setString("otra cosa");
    whole->itemAt(whole->items().size() - 1)->choose();
    EXPECT_EQ(clipboard->text(), text);
}

TEST_F(AppDelegateTest, PauseTitleResetAndQuitCommands) {
    launch();
    item("Pausar captura")->choose();
    EXPECT_TRUE(button()->appearsDisabled) << "dimmed at once, through the controller's change";
    EXPECT_EQ(line(2), "Captura en pausa");
    menu().open();
    item("Reanudar captura")->choose();
    EXPECT_FALSE(button()->appearsDisabled);

    // A setting that cannot be saved is kept in memory, and a line says so until a write succeeds.
    settings->writeError = "/home/ana/.config/quenlitor-midi-texto/ajustes.json: Permission denied";
    item("Incluir título del esquema")->choose();
    EXPECT_EQ(settings->values.at("includeTitle"), SettingsValue(false));
    play({60, 64, 67});
    EXPECT_EQ(clipboard->text(), "C4 E G .");
    menu().open();
    EXPECT_EQ(line(3), shortened("No se pudieron guardar los ajustes: " + *settings->writeError, 60));
    settings->writeError.reset();
    item("Incluir título del esquema")->choose();
    menu().open();
    EXPECT_EQ(menu().titles().at(3), "-");

    key(60);
    item("Reiniciar notas retenidas")->choose();
    EXPECT_EQ(line(2), "Captura reiniciada.");
    play({64});
    EXPECT_EQ(clipboard->text(), "\"E4\" E4 .") << "the held C4 was let go";

    // Quitting stops the MIDI service, once.
    item("Salir")->choose();
    application->terminate();
    EXPECT_EQ(application->terminateRequests, 2);
    EXPECT_EQ(midi->callCount("clientDispose"), 1u);
    EXPECT_EQ(midi->openClients(), 0u);
}

// Cuts count user-perceived characters; lines break between words, and a word wider than a line
// is cut, never a character.
TEST(TextCuts, CutsAndWrapsByUserPerceivedCharacters) {
    const std::string e = "e\u0301";
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // one character
    const struct { std::string text; std::size_t count; std::string cut; Lines lines; } rows[] = {
        {"abc", 3, "abc", {"abc"}},
        {"abcd", 3, "abc", {"abc", "d"}},
        {e + e, 2, e + e, {e + e}},
        {e + e + e + " " + e, 3, e + e + e, {e + e + e, e}},
        {"a" + family + "b", 2, "a" + family, {"a" + family, "b"}},
        {"uno  dos\ntres", 20, "uno  dos\ntres", {"uno dos tres"}},
        {"abcdefghij k", 4, "abcd", {"abcd", "efgh", "ij k"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(firstCharacters(row.text, row.count), row.cut);
        EXPECT_EQ(longerThan(row.text, row.count), row.cut != row.text);
        EXPECT_EQ(wrappedLines(row.text, row.count), row.lines);
    }
}

} // namespace
} // namespace quenlitor
