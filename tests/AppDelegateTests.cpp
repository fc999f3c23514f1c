// The tray application's start-up, menu and commands, driven headless on the in-memory desktop.
#include "AppDelegate.hpp"
#include "CaptureController.hpp"
#include "MIDIInputService.hpp"
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

namespace quenlitor {
namespace {

using namespace platform::memory;
using platform::SettingsArray;
using platform::SettingsValue;

constexpr std::string_view dictionary = R"({"chords": [
    {"nombre": "", "obligatorias": [0, 4, 7]},
    {"nombre": "m", "obligatorias": [0, 3, 7]}
]})";

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

    // Launches with one keyboard, endpoint 7, as the only source.
    void launchWithKeyboard() {
        midi->setSources({{.endpoint = 7, .name = "Teclado", .uniqueID = {0, 42}}});
        launch();
    }
    void launch() {
        app = std::make_shared<AppDelegate>(platform::Desktop{application, std::make_shared<MemoryMenuFactory>(), clipboard,
                                                              settings, bundle, running, midi, queue});
        application->setDelegate(app);
        application->run();
        queue->runAll();
        // The tests read the menu as the user sees it, open; ClosedMenuIsLeftAloneUntilItOpens
        // covers the closed one.
        menu().open();
    }
    MemoryMenu& menu() const { return dynamic_cast<MemoryMenu&>(*app->menu()); }
    std::shared_ptr<MemoryMenuItem> item(std::string_view title) const {
        auto found = menu().item(title);
        EXPECT_TRUE(found) << "no item " << title;
        return found;
    }
    std::string line(std::size_t index) const { return menu().itemAt(index)->title(); }
    std::shared_ptr<MemoryMenu> submenu(std::string_view title) const { return submenuOf(*item(title)); }
    // Keys as a keyboard sends them and the main thread takes them in: pressed, then released.
    void press(std::uint32_t endpoint, std::uint8_t note) {
        midi->deliver(endpoint, {{0x90, note, 100}});
        queue->runAll();
    }
    void release(std::uint32_t endpoint, std::uint8_t note) {
        midi->deliver(endpoint, {{0x80, note, 0}});
        queue->runAll();
    }
    void play(std::uint32_t endpoint, const std::vector<std::uint8_t>& notes) {
        std::ranges::for_each(notes, [&](std::uint8_t note) { press(endpoint, note); });
        std::ranges::for_each(notes, [&](std::uint8_t note) { release(endpoint, note); });
    }
    std::shared_ptr<MemoryStatusButton> button() const { return application->statusItems.at(0)->memoryButton(); }
};

TEST_F(AppDelegateTest, StartsWithItsStatusItemMenuAndServices) {
    launchWithKeyboard();
    ASSERT_EQ(application->statusItems.size(), 1u);
    EXPECT_EQ(button()->symbol, "pianokeys");
    EXPECT_EQ(button()->title, " QK");
    EXPECT_EQ(button()->toolTip, "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V");
    EXPECT_EQ(button()->accessibilityLabel, "Quenlitor MIDI a Texto");
    EXPECT_EQ(application->statusItems[0]->menu(), app->menu());

    EXPECT_EQ(menu().titles(), (std::vector<std::string>{
                                   "Quenlitor MIDI a Texto", "Escuchando · 1 entrada MIDI", "Toca una nota o un acorde.", "-",
                                   "Todavía no hay un token", "Copiar último token", "Últimos tokens", "-", "Entradas MIDI",
                                   "Pausar captura", "Incluir título del esquema", "Reiniciar notas retenidas", "-",
                                   "Cómo usar", "Salir"}));
    for (const std::size_t disabled : {0u, 1u, 2u, 4u, 5u, 6u}) {
        EXPECT_FALSE(menu().itemAt(disabled)->isEnabled()) << line(disabled);
    }
    EXPECT_TRUE(item("Incluir título del esquema")->state());
    EXPECT_EQ(submenu("Cómo usar")->titles().size(), 9u);
    EXPECT_EQ(submenu("Cómo usar")->titles().back(), "Reconocimiento: MIDI Piano Quenlitor · 110 acordes.");
    EXPECT_EQ(submenu("Entradas MIDI")->titles(),
              (std::vector<std::string>{"Teclado", "-", "Activar todas las entradas", "Actualizar lista"}));
}

TEST_F(AppDelegateTest, GestureReachesTheClipboardAndTheMenu) {
    launchWithKeyboard();
    press(7, 60);
    EXPECT_EQ(line(2), "Tocando: C4");
    play(7, {57, 60, 64});
    EXPECT_EQ(clipboard->text(), "\"Am\" A3 C E .");
    EXPECT_EQ(line(2), "Copiado: Am");
    EXPECT_EQ(line(4), "\"Am\" A3 C E .");
    EXPECT_EQ(menu().itemAt(4)->toolTip(), "\"Am\" A3 C E .");
    EXPECT_TRUE(item("Copiar último token")->isEnabled());
    EXPECT_TRUE(item("Últimos tokens")->isEnabled());

    clipboard->clearContents();
    item("Copiar último token")->choose();
    EXPECT_EQ(clipboard->text(), "\"Am\" A3 C E .");

    // A refused copy that reaches the clipboard late shows in the menu.
    clipboard->refusesWrites = true;
    item("Copiar último token")->choose();
    EXPECT_EQ(line(2), "No se pudo copiar al portapapeles.");
    clipboard->writeLate("\"Am\" A3 C E .");
    EXPECT_EQ(line(2), "Copiado: Am");
}

TEST_F(AppDelegateTest, SecondInstanceQuitsBeforeShowingAnything) {
    running->heldElsewhere.insert(std::string(platform::defaultApplicationId));
    launch();
    EXPECT_EQ(application->terminateRequests, 1);
    EXPECT_TRUE(application->statusItems.empty());
    EXPECT_EQ(midi->callCount("clientCreate"), 0u);
    EXPECT_FALSE(app->controller());

    bundle->identifier = "org.example.otro";
    running->heldElsewhere = {"org.example.otro"};
    launch();
    EXPECT_EQ(running->asked.back(), "org.example.otro");
}

TEST_F(AppDelegateTest, MissingOrBrokenDictionaryLeavesTheMenuAlone) {
    struct Row {
        const char* what;
        std::function<void(MemoryBundleResources&)> breakIt;
        std::string listening;
    };
    const Row rows[] = {
        {"missing", [](auto& b) { b.files.clear(); }, "Falta el diccionario de acordes en la aplicación."},
        {"unreadable", [](auto& b) { b.readFailure = "Permiso denegado."; }, "Permiso denegado."},
        {"out of memory", [](auto& b) { b.outOfMemory = true; }, "No hay memoria para leer el diccionario de acordes."},
        {"empty", [](auto& b) { b.addResource("diccionario_acordes", "json", R"({"chords": []})"); },
         "El diccionario de acordes está vacío."},
        {"a number beyond a double",
         [](auto& b) { b.addResource("diccionario_acordes", "json", R"({"chords": [{"nombre": 1E400}]})"); },
         "El diccionario de acordes tiene un número demasiado grande e…"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        bundle = std::make_shared<MemoryBundleResources>();
        bundle->addResource("diccionario_acordes", "json", dictionary);
        row.breakIt(*bundle);
        application = std::make_shared<MemoryApplication>();
        midi = std::make_shared<MemoryMIDIPlatform>();
        launch();
        EXPECT_FALSE(app->controller());
        EXPECT_FALSE(app->midi());
        EXPECT_EQ(midi->callCount("clientCreate"), 0u);
        EXPECT_EQ(line(1), row.listening);
        EXPECT_EQ(line(2), "No se pudo iniciar la captura.");
        for (const char* title : {"Copiar último token", "Últimos tokens", "Entradas MIDI", "Pausar captura",
                                  "Incluir título del esquema", "Reiniciar notas retenidas"}) {
            EXPECT_FALSE(item(title)->isEnabled()) << title;
        }
        EXPECT_FALSE(item("Incluir título del esquema")->state());
        EXPECT_EQ(submenu("Entradas MIDI")->titles(),
                  (std::vector<std::string>{"No hay entradas disponibles", "-", "Activar todas las entradas", "Actualizar lista"}));
        item("Pausar captura")->setEnabled(true);
        item("Pausar captura")->choose(); // commands that need the controller do nothing
        application->terminate();
        EXPECT_EQ(midi->callCount("clientDispose"), 0u);
    }
}

TEST_F(AppDelegateTest, SettingsAreReadOnceAndMalformedOnesFallBack) {
    struct Row {
        const char* what;
        std::optional<SettingsValue> disabled;
        std::optional<SettingsValue> includeTitle;
        std::set<std::int32_t> expectedDisabled;
        bool expectedTitle;
    };
    const Row rows[] = {
        {"nothing stored", std::nullopt, std::nullopt, {}, true},
        {"both stored", SettingsArray{std::int64_t{5}, std::int64_t{-7}, std::int64_t{5}}, false, {5, -7}, false},
        {"a text among the ids", SettingsArray{std::int64_t{5}, std::string("7")}, true, {}, true},
        {"not an array", std::string("5"), std::int64_t{0}, {}, false},
        {"an id beyond 32 bits", SettingsArray{std::int64_t{1} << 40, std::int64_t{3}}, std::nullopt, {3}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        settings = std::make_shared<MemorySettingsStore>();
        if (row.disabled) {
            settings->values["disabledSources"] = *row.disabled;
        }
        if (row.includeTitle) {
            settings->values["includeTitle"] = *row.includeTitle;
        }
        launch();
        EXPECT_EQ(app->disabledSources(), row.expectedDisabled);
        EXPECT_EQ(app->controller()->includeTitle(), row.expectedTitle);
        EXPECT_EQ(settings->writeCount, 0);
    }
}

TEST_F(AppDelegateTest, DisabledSourcesAreNotConnectedAndTogglesWriteTheSetting) {
    settings->values["disabledSources"] = SettingsArray{std::int64_t{-7}};
    midi->setSources({{.endpoint = 1, .name = "Piano", .uniqueID = {0, 5}},
                      {.endpoint = 2, .name = "Teclado 10", .uniqueID = {0, -7}},
                      {.endpoint = 3, .name = "teclado 2", .uniqueID = {0, 9}}});
    launch();
    EXPECT_EQ(app->midi()->connected(), (std::set<std::uint32_t>{1, 3}));
    auto inputs = submenu("Entradas MIDI");
    EXPECT_EQ(inputs->titles(), (std::vector<std::string>{"Piano", "teclado 2", "Teclado 10", "-",
                                                          "Activar todas las entradas", "Actualizar lista"}));
    EXPECT_TRUE(inputs->itemAt(0)->state());
    EXPECT_FALSE(inputs->itemAt(2)->state());
    EXPECT_EQ(inputs->itemAt(2)->representedValue(), platform::RepresentedValue(std::int32_t{-7}));

    // Switching off a connected source drops it and resets the capture.
    press(1, 60);
    inputs->itemAt(0)->choose();
    EXPECT_EQ(app->disabledSources(), (std::set<std::int32_t>{5, -7}));
    EXPECT_EQ(app->midi()->connected(), std::set<std::uint32_t>{3});
    EXPECT_EQ(line(2), "Entrada desconectada; captura reiniciada.");
    inputs = submenu("Entradas MIDI");
    EXPECT_FALSE(inputs->itemAt(0)->state());

    // Choosing the same entry twice leaves things as they were.
    inputs->itemAt(0)->choose();
    submenu("Entradas MIDI")->itemAt(0)->choose();
    std::set<std::int64_t> stored;
    for (const SettingsValue& id : std::get<SettingsArray>(settings->values.at("disabledSources"))) {
        stored.insert(std::get<std::int64_t>(id));
    }
    EXPECT_EQ(stored, (std::set<std::int64_t>{5, -7}));

    submenu("Entradas MIDI")->item("Activar todas las entradas")->choose();
    EXPECT_TRUE(app->disabledSources().empty());
    EXPECT_EQ(settings->values.at("disabledSources"), SettingsValue(SettingsArray{}));
    EXPECT_EQ(app->midi()->connected(), (std::set<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(line(1), "Escuchando · 3 entradas MIDI");
}

TEST_F(AppDelegateTest, MIDIErrorStaysInTheListeningLineUntilTheListIsRefreshed) {
    midi->setSources({{.endpoint = 1, .name = "Piano", .uniqueID = {0, 5}}});
    midi->setConnectStatus(1, -50);
    launch();
    EXPECT_EQ(line(1), "No se pudo conectar una entrada MIDI (-50).");
    EXPECT_FALSE(submenu("Entradas MIDI")->itemAt(0)->state()) << "the checkmark shows the connection";

    midi->setConnectStatus(1, 0);
    midi->addSource({.endpoint = 2, .name = "Otro", .uniqueID = {0, 6}});
    midi->notifySetupChange();
    queue->runAll();
    menu().open();
    EXPECT_EQ(line(1), "No se pudo conectar una entrada MIDI (-50).");

    submenu("Entradas MIDI")->item("Actualizar lista")->choose();
    EXPECT_EQ(line(1), "Escuchando · 2 entradas MIDI");
    midi->setSources({});
    midi->notifySetupChange();
    queue->runAll();
    EXPECT_EQ(line(1), "Sin entrada MIDI conectada");
}

// Nothing listening must never read as "no input connected"; "Actualizar lista" opens the client
// again, whether it could not be opened at start or reading failed later.
TEST_F(AppDelegateTest, ListeningThatStoppedIsShownAndCanStartAgain) {
    midi->setSources({{.endpoint = 1, .name = "Piano", .uniqueID = {0, 5}}});
    midi->setClientCreateStatus(-2);
    launch();
    EXPECT_EQ(line(1), "No se pudo crear el cliente MIDI (-2).");
    EXPECT_EQ(menu().itemAt(1)->toolTip(), "No se pudo crear el cliente MIDI (-2).\nEstado -2.");
    // Desktops that show no tool tips show the explanation as a submenu of the line.
    EXPECT_TRUE(menu().itemAt(1)->isEnabled());
    ASSERT_TRUE(menu().itemAt(1)->submenu());
    EXPECT_EQ(submenuOf(*menu().itemAt(1))->titles(),
              (std::vector<std::string>{"No se pudo crear el cliente MIDI (-2).", "Estado -2."}));
    const auto refresh = [&] { submenu("Entradas MIDI")->item("Actualizar lista")->choose(); };
    refresh();
    EXPECT_EQ(line(1), "No se pudo crear el cliente MIDI (-2).") << "still nothing listens";

    midi->setClientCreateStatus(0);
    refresh();
    EXPECT_EQ(line(1), "Escuchando · 1 entrada MIDI");
    EXPECT_EQ(menu().itemAt(1)->toolTip(), std::nullopt);
    EXPECT_FALSE(menu().itemAt(1)->submenu()) << "the line is read only again";
    EXPECT_FALSE(menu().itemAt(1)->isEnabled());

    midi->deliver(1, {{0x90, 60, 100}});
    midi->failReading(-5);
    queue->runAll();
    EXPECT_EQ(line(1), "No se pudo leer la entrada MIDI (-5).");
    EXPECT_EQ(line(2), "Entrada desconectada; captura reiniciada.");
    refresh();
    play(1, {60, 64, 67});
    EXPECT_EQ(clipboard->text(), "\"C\" C4 E G .");
}

// Error descriptions and source names come from elsewhere and may be of any length.
TEST_F(AppDelegateTest, ForeignTextsAreCutWithTheWholeTextInTheToolTip) {
    const std::string longName = "Controlador USB " + std::string(80, 'x');
    midi->setSources({{.endpoint = 1, .name = longName, .uniqueID = {0, 5}}});
    midi->setConnectStatus(1, -1234567);
    launch();
    const auto entry = submenu("Entradas MIDI")->itemAt(0);
    EXPECT_EQ(entry->title(), firstCharacters(longName, 60) + "…");
    EXPECT_EQ(entry->toolTip(), longName);
    EXPECT_EQ(line(1), "No se pudo conectar una entrada MIDI (-1234567).") << "short texts stay whole";
    // The whole name where no tool tip shows, and the command the line is, under it.
    const auto whole = submenuOf(*entry);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->titles(), (std::vector<std::string>{"Controlador USB", std::string(60, 'x'), std::string(20, 'x'),
                                                         "-", "Escuchar esta entrada"}));
    whole->itemAt(4)->choose();
    EXPECT_EQ(settings->values.at("disabledSources"), SettingsValue(SettingsArray{std::int64_t{5}}));

    bundle->addResource("diccionario_acordes", "json", R"({"chords": [{"nombre": "m", "obligatorias": [0, 3, [7]]}]})");
    application = std::make_shared<MemoryApplication>();
    launch();
    const std::string error = "El diccionario de acordes tiene un valor de tipo incorrecto en chords[0].obligatorias[2].";
    EXPECT_EQ(line(1), firstCharacters(error, 60) + "…");
    EXPECT_EQ(menu().itemAt(1)->toolTip(), error);
    EXPECT_EQ(submenuOf(*menu().itemAt(1))->titles(),
              (std::vector<std::string>{"El diccionario de acordes tiene un valor de tipo incorrecto",
                                        "en chords[0].obligatorias[2]."}))
        << "the whole text, in lines as wide as the cut one";
}

TEST_F(AppDelegateTest, SettingsThatCannotBeSavedAreSaidSoUntilAWriteSucceeds) {
    launch();
    settings->writeError = "/home/ana/.config/quenlitor-midi-texto/ajustes.json: Permission denied";
    item("Incluir título del esquema")->choose();
    menu().open();
    EXPECT_EQ(line(3), shortened("No se pudieron guardar los ajustes: " + *settings->writeError, 60));
    EXPECT_FALSE(item("Incluir título del esquema")->state()) << "the value is kept in memory";

    settings->writeError.reset();
    item("Incluir título del esquema")->choose();
    menu().open();
    EXPECT_EQ(menu().titles().at(3), "-");
}

// Every message updates the capture line; the history items and the icon are redrawn only when
// what they show changes.
TEST_F(AppDelegateTest, MessagesRedrawOnlyWhatChanged) {
    midi->setSources({{.endpoint = 1, .name = "Piano", .uniqueID = {0, 5}}});
    launch();
    play(1, {60, 64, 67});
    const auto entry = submenu("Últimos tokens")->itemAt(0);
    const int appearanceChanges = button()->appearanceChanges;
    press(1, 62);
    EXPECT_EQ(line(2), "Tocando: D4");
    EXPECT_EQ(submenu("Últimos tokens")->itemAt(0), entry);
    EXPECT_EQ(button()->appearanceChanges, appearanceChanges);

    release(1, 62);
    EXPECT_EQ(submenu("Últimos tokens")->titles(), (std::vector<std::string>{"\"D4\" D4 .", "\"C\" C4 E G ."}));
    item("Pausar captura")->choose();
    EXPECT_TRUE(button()->appearsDisabled);
    EXPECT_EQ(button()->appearanceChanges, appearanceChanges + 1);
}

// A tray host that shows the menu over D-Bus is sent every change of an item: while the menu is
// closed nothing in it changes, and its next opening shows everything as it is then.
TEST_F(AppDelegateTest, ClosedMenuIsLeftAloneUntilItOpens) {
    launchWithKeyboard();
    menu().close();
    const auto items = menu().items();
    const auto titles = menu().titles();
    const auto inputs = submenu("Entradas MIDI")->items();
    play(7, {57, 60, 64});
    press(7, 62);
    midi->addSource({.endpoint = 8, .name = "Otro", .uniqueID = {0, 43}});
    midi->notifySetupChange();
    queue->runAll();
    item("Pausar captura")->choose();
    EXPECT_TRUE(button()->appearsDisabled) << "the icon shows at all times";
    EXPECT_EQ(menu().items(), items);
    EXPECT_EQ(menu().titles(), titles);
    EXPECT_EQ(submenu("Entradas MIDI")->items(), inputs);
    EXPECT_TRUE(submenu("Últimos tokens")->items().empty());

    menu().open();
    EXPECT_EQ(line(1), "Escuchando · 2 entradas MIDI");
    EXPECT_EQ(line(2), "Captura en pausa");
    EXPECT_EQ(line(4), "\"Am\" A3 C E .");
    EXPECT_TRUE(item("Reanudar captura"));
    EXPECT_EQ(submenu("Últimos tokens")->titles(), std::vector<std::string>{"\"Am\" A3 C E ."});
    EXPECT_EQ(submenu("Entradas MIDI")->titles().size(), 5u);
}

TEST_F(AppDelegateTest, LongTokensAreCutInTheMenuButKeptWhole) {
    launchWithKeyboard();
    // All 88 keys at once: a token far longer than any menu line.
    std::vector<std::uint8_t> keys(88);
    std::iota(keys.begin(), keys.end(), std::uint8_t{21});
    play(7, keys);
    const std::string text = app->controller()->history().at(0).text;
    ASSERT_GT(text.size(), 200u);
    EXPECT_EQ(line(4), text.substr(0, 88) + "…");
    EXPECT_EQ(menu().itemAt(4)->toolTip(), text);
    // The whole token in the line's submenu, for desktops that show no tool tips.
    const auto whole = submenuOf(*menu().itemAt(4));
    ASSERT_TRUE(whole);
    std::string joined;
    for (const std::string& part : whole->titles()) {
        EXPECT_LE(part.size(), 88u);
        joined += (joined.empty() ? "" : " ") + part;
    }
    EXPECT_EQ(joined, text);
    const auto entry = submenu("Últimos tokens")->itemAt(0);
    EXPECT_EQ(entry->title(), text.substr(0, 80));
    EXPECT_EQ(entry->toolTip(), text);
    EXPECT_EQ(entry->representedValue(), platform::RepresentedValue(text));
    // Where no tool tip shows, the entry opens the whole token and the copy command under it.
    const auto recentWhole = submenuOf(*entry);
    ASSERT_TRUE(recentWhole);
    ASSERT_GE(recentWhole->items().size(), 4u);
    EXPECT_EQ(recentWhole->titles().back(), "Copiar este token");
    clipboard->setString("otra cosa");
    recentWhole->itemAt(recentWhole->items().size() - 1)->choose();
    EXPECT_EQ(clipboard->text(), text);
}

TEST_F(AppDelegateTest, RecentEntriesCopyTheNewestEqualText) {
    launchWithKeyboard();
    play(7, {60});
    play(7, {62});
    play(7, {60});
    auto recent = submenu("Últimos tokens");
    ASSERT_EQ(recent->titles(), (std::vector<std::string>{"\"C4\" C4 .", "\"D4\" D4 .", "\"C4\" C4 ."}));
    recent->itemAt(2)->choose();
    EXPECT_EQ(clipboard->text(), "\"C4\" C4 .");
    EXPECT_EQ(app->controller()->history().size(), 3u) << "copying again does not reorder";

    // An entry whose value is not a text, or whose text has left the history, does nothing.
    const int writes = clipboard->writeCount();
    recent->itemAt(1)->setRepresentedValue(std::int32_t{3});
    recent->itemAt(1)->choose();
    recent->itemAt(0)->setRepresentedValue(std::string("\"G9\" G9 ."));
    recent->itemAt(0)->choose();
    EXPECT_EQ(clipboard->writeCount(), writes);
}

TEST_F(AppDelegateTest, PauseTitleResetAndQuitCommands) {
    launchWithKeyboard();
    item("Pausar captura")->choose();
    EXPECT_TRUE(button()->appearsDisabled) << "dimmed at once, through the controller's change";
    EXPECT_EQ(line(2), "Captura en pausa");
    menu().open();
    EXPECT_TRUE(item("Reanudar captura"));
    item("Reanudar captura")->choose();
    EXPECT_FALSE(button()->appearsDisabled);

    item("Incluir título del esquema")->choose();
    EXPECT_FALSE(app->controller()->includeTitle());
    EXPECT_EQ(settings->values.at("includeTitle"), SettingsValue(false));
    menu().open();
    EXPECT_FALSE(item("Incluir título del esquema")->state());
    play(7, {60, 64, 67});
    EXPECT_EQ(clipboard->text(), "C4 E G .");

    press(7, 60);
    item("Reiniciar notas retenidas")->choose();
    EXPECT_EQ(line(2), "Captura reiniciada.");
    EXPECT_TRUE(app->controller()->session().heldNotes().empty());

    // Quitting stops the MIDI service, once.
    item("Salir")->choose();
    application->terminate();
    EXPECT_EQ(application->terminateRequests, 2);
    EXPECT_EQ(midi->callCount("clientDispose"), 1u);
    EXPECT_TRUE(app->midi()->connected().empty());
    EXPECT_EQ(midi->openClients(), 0u);
}

// Lines break between words; a word wider than a line is cut, never a character.
TEST(TextCuts, WrapsIntoLinesOfAtMostTheWidth) {
    const std::string accent = "e\u0301";
    const struct {
        std::string text;
        std::size_t width;
        std::vector<std::string> lines;
    } rows[] = {
        {"", 10, {}},
        {"uno dos tres", 12, {"uno dos tres"}},
        {"uno dos tres", 7, {"uno dos", "tres"}},
        {"uno  dos\ntres", 20, {"uno dos tres"}},
        {"abcdefghij k", 4, {"abcd", "efgh", "ij k"}},
        {accent + accent + accent + " " + accent, 3, {accent + accent + accent, accent}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(wrappedLines(row.text, row.width), row.lines);
    }
}

TEST(TextCuts, CutsByUserPerceivedCharacters) {
    struct Row {
        std::string text;
        std::size_t count;
        std::string cut;
        bool longer;
    };
    const std::string accent = "e\u0301";
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // one character
    const Row rows[] = {
        {"", 3, "", false},
        {"abc", 3, "abc", false},
        {"abcd", 3, "abc", true},
        {accent + accent + accent, 2, accent + accent, true},
        {accent + accent, 2, accent + accent, false},
        {"a" + family + "b", 2, "a" + family, true},
        {std::string(150, 'x'), 100, std::string(100, 'x'), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(firstCharacters(row.text, row.count), row.cut);
        EXPECT_EQ(longerThan(row.text, row.count), row.longer);
    }
}

} // namespace
} // namespace quenlitor
