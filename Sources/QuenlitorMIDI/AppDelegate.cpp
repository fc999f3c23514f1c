#include "AppDelegate.hpp"

#include "CaptureController.hpp"
#include "ChordRecognizer.hpp"
#include "platform/Error.hpp"
#include "MIDIInputService.hpp"
#include "ShippedDictionary.hpp"
#include "TextCuts.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace quenlitor {

namespace {

const std::string applicationName = "Quenlitor MIDI a Texto";
const std::string disabledSourcesKey = "disabledSources";
const std::string includeTitleKey = "includeTitle";

constexpr std::size_t captureLineLength = 100;
constexpr std::size_t tokenLineLength = 88;
constexpr std::size_t recentEntryLength = 80;
// Texts the application does not write (error descriptions, source names) are cut here, so that
// none can widen the menu beyond the screen; the item's tool tip and a submenu hold the whole text.
constexpr std::size_t foreignTextLength = 60;

constexpr std::array usageLines{
    "1. Conecta y elige tu entrada MIDI.",
    "2. Toca; al soltar todas las teclas se copia.",
    "3. Pega con Ctrl+V en tu editor de texto.",
    "4. Aplica Quenlitor Keyboard y sus ligaduras.",
    "Los títulos quedan entre comillas y el token termina en punto.",
    "Se conservan las octavas reales (C4 = do central).",
    "El pedal no retrasa la copia: cuentan las teclas físicas.",
    "Rango de la fuente: A0–C8.",
    "Reconocimiento: MIDI Piano Quenlitor · 110 acordes.",
};

std::string listeningLine(std::size_t connected) {
    if (connected == 0) {
        return "Sin entrada MIDI conectada";
    }
    return "Escuchando · " + std::to_string(connected) + " entrada" + (connected == 1 ? "" : "s") + " MIDI";
}

} // namespace

AppDelegate::AppDelegate(platform::Desktop desktop)
    : m_desktop(std::move(desktop)), m_menu(m_desktop.menus->makeMenu()), m_defaults(m_desktop.defaults) {}

void AppDelegate::applicationDidFinishLaunching() {
    if (anotherInstanceRuns()) {
        m_desktop.application->terminate();
        return;
    }
    m_statusItem = m_desktop.application->makeStatusItem();
    configureButton();
    m_menu->setDelegate(weak_from_this());
    m_statusItem->setMenu(m_menu);
    readDisabledSources();

    std::shared_ptr<const ChordRecognizer> recognizer;
    try {
        recognizer = loadRecognizer();
    } catch (const Error& error) {
        // Degraded: the menu alone shows what went wrong; no capture and no MIDI client.
        m_lastError = error.description();
        rebuildMenu();
        return;
    }
    startServices(std::move(recognizer));
}

void AppDelegate::applicationWillTerminate() {
    if (m_midi) {
        m_midi->stop();
    }
}

void AppDelegate::menuWillOpen(platform::Menu&) {
    m_menuOpen = true;
    rebuildMenu();
}

void AppDelegate::menuDidClose(platform::Menu&) { m_menuOpen = false; }

bool AppDelegate::anotherInstanceRuns() const {
    const std::string identifier =
        m_desktop.bundle->applicationId().value_or(std::string(platform::defaultApplicationId));
    return !m_desktop.runningInstances->claimSingleInstance(identifier);
}

void AppDelegate::configureButton() {
    const auto button = m_statusItem->button();
    if (!button) {
        return;
    }
    button->setSymbolImage("pianokeys", applicationName);
    button->setTitle(" QK");
    button->setToolTip("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V");
    button->setAccessibilityLabel(applicationName);
}

void AppDelegate::readDisabledSources() {
    m_disabledSources.clear();
    const auto stored = m_defaults->arrayForKey(disabledSourcesKey);
    if (!stored) {
        return;
    }
    std::set<std::int32_t> ids;
    for (const platform::SettingsValue& value : *stored) {
        const auto* number = std::get_if<std::int64_t>(&value);
        if (!number) {
            return; // one element of another kind: the whole setting is malformed
        }
        // An id beyond 32 bits cannot name a source; it is skipped rather than wrapped onto
        // another source's id.
        if (*number >= std::numeric_limits<std::int32_t>::min() && *number <= std::numeric_limits<std::int32_t>::max()) {
            ids.insert(static_cast<std::int32_t>(*number));
        }
    }
    m_disabledSources = std::move(ids);
}

bool AppDelegate::readIncludeTitle() const {
    return m_defaults->objectForKey(includeTitleKey) ? m_defaults->boolForKey(includeTitleKey) : true;
}

std::shared_ptr<const ChordRecognizer> AppDelegate::loadRecognizer() { return loadShippedDictionary(*m_desktop.bundle); }

void AppDelegate::startServices(std::shared_ptr<const ChordRecognizer> recognizer) {
    m_controller = std::make_shared<CaptureController>(TokenGenerator(std::move(recognizer)), m_desktop.clipboard);
    m_controller->setIncludeTitle(readIncludeTitle());

    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    m_controller->onChange = [weak] {
        if (const auto self = weak.lock()) {
            self->updateLiveItems();
        }
    };
    m_desktop.clipboard->onLateWrite = [weak](std::string_view text) {
        if (const auto self = weak.lock(); self && self->m_controller) {
            self->m_controller->copiedLate(text);
        }
    };

    m_midi = MIDIInputService::create(m_desktop.midi, m_desktop.mainQueue, [weak](const MIDISourceInfo& source) {
        const auto self = weak.lock();
        return self && !self->m_disabledSources.contains(source.uniqueID);
    });
    m_midi->onMessage = [weak](const MIDIMessage& message, std::uint32_t source) {
        if (const auto self = weak.lock(); self && self->m_controller) {
            self->m_controller->receive(message, source);
        }
    };
    m_midi->onDisconnect = [weak](std::uint32_t) {
        if (const auto self = weak.lock(); self && self->m_controller) {
            self->m_controller->reset("Entrada desconectada; captura reiniciada.");
        }
    };
    m_midi->onError = [weak](const std::string& text) {
        if (const auto self = weak.lock()) {
            self->m_lastError = text;
            self->updateLiveItems();
        }
    };
    m_midi->onChange = [weak] {
        if (const auto self = weak.lock()) {
            self->updateInputs();
            self->updateLiveItems();
        }
    };

    rebuildMenu();
    m_midi->start();
}

std::shared_ptr<platform::MenuItem> AppDelegate::item(const std::string& title, bool enabled) {
    auto made = m_desktop.menus->makeItem(title);
    made->setEnabled(enabled);
    return made;
}

std::shared_ptr<platform::MenuItem> AppDelegate::item(const std::string& title, Command command, bool enabled) {
    auto made = item(title, enabled);
    made->setAction([weak = weak_from_this(), command](platform::MenuItem&) {
        if (const auto self = weak.lock()) {
            (self.get()->*command)();
        }
    });
    return made;
}

std::shared_ptr<platform::MenuItem> AppDelegate::item(const std::string& title, ItemCommand command, bool enabled) {
    auto made = item(title, enabled);
    made->setAction([weak = weak_from_this(), command](platform::MenuItem& sender) {
        if (const auto self = weak.lock()) {
            (self.get()->*command)(sender);
        }
    });
    return made;
}

std::shared_ptr<platform::MenuItem> AppDelegate::foreignTextItem(const std::string& text) {
    auto made = item(shortened(text, foreignTextLength), false);
    made->setToolTip(text);
    if (longerThan(text, foreignTextLength)) {
        showWhole(*made, {text}, foreignTextLength);
    }
    return made;
}

// Some desktops show no tool tips (GNOME's tray among them): what a line's tool tip adds is in a
// submenu of the line too, one read-only line per line of text.
void AppDelegate::showWhole(platform::MenuItem& line, std::initializer_list<std::string_view> paragraphs,
                            std::size_t width) {
    auto whole = m_desktop.menus->makeMenu();
    for (const std::string_view paragraph : paragraphs) {
        for (const std::string& part : wrappedLines(paragraph, width)) {
            whole->addItem(item(part, false));
        }
    }
    line.setSubmenu(std::move(whole));
    // A line that holds a submenu must open it.
    line.setEnabled(true);
}

// A submenu makes the line itself a way into it, not a command, on most desktops: the command
// is offered again inside, under the whole text.
void AppDelegate::showWholeWithCommand(platform::MenuItem& line, const std::string& text, std::size_t width,
                                       std::shared_ptr<platform::MenuItem> command) {
    showWhole(line, {text}, width);
    const auto whole = line.submenu();
    whole->addItem(m_desktop.menus->makeSeparator());
    whole->addItem(std::move(command));
}

void AppDelegate::showOnlyTitle(platform::MenuItem& line) {
    line.setSubmenu(nullptr);
    line.setEnabled(false);
}

std::shared_ptr<platform::Menu> AppDelegate::usageMenu() {
    auto usage = m_desktop.menus->makeMenu();
    for (const char* line : usageLines) {
        usage->addItem(item(line, false));
    }
    return usage;
}

void AppDelegate::rebuildMenu() {
    const bool running = m_controller != nullptr;
    m_menu->removeAllItems();

    m_menu->addItem(item(applicationName, false));
    m_listeningItem = item("", false);
    m_menu->addItem(m_listeningItem);
    m_captureItem = item("", false);
    m_menu->addItem(m_captureItem);
    if (m_settingsError) {
        m_menu->addItem(foreignTextItem("No se pudieron guardar los ajustes: " + *m_settingsError));
    }
    m_menu->addItem(m_desktop.menus->makeSeparator());

    m_tokenItem = item("Todavía no hay un token", false);
    m_menu->addItem(m_tokenItem);
    m_copyItem = item("Copiar último token", &AppDelegate::copyLast, false);
    m_menu->addItem(m_copyItem);
    m_recentItem = item("Últimos tokens", false);
    m_recentItem->setSubmenu(m_desktop.menus->makeMenu());
    m_menu->addItem(m_recentItem);
    m_menu->addItem(m_desktop.menus->makeSeparator());

    m_inputItem = item("Entradas MIDI", false);
    m_inputItem->setSubmenu(m_desktop.menus->makeMenu());
    m_menu->addItem(m_inputItem);
    const bool paused = running && m_controller->paused();
    m_menu->addItem(item(paused ? "Reanudar captura" : "Pausar captura", &AppDelegate::togglePause, running));
    auto titleItem = item("Incluir título del esquema", &AppDelegate::toggleTitle, running);
    titleItem->setState(running && m_controller->includeTitle());
    m_menu->addItem(titleItem);
    m_menu->addItem(item("Reiniciar notas retenidas", &AppDelegate::resetCapture, running));
    m_menu->addItem(m_desktop.menus->makeSeparator());

    auto usage = item("Cómo usar", true);
    usage->setSubmenu(usageMenu());
    m_menu->addItem(usage);
    m_menu->addItem(item("Salir", &AppDelegate::quit, true));

    m_shownHistory.reset();
    showInputs();
    showLiveLines();
    updateButton();
}

// Runs after every MIDI message. While the menu is closed nothing in it changes: a tray host that
// shows the menu over D-Bus would be sent every change, at a cost far above the message's own.
void AppDelegate::updateLiveItems() {
    updateButton();
    if (m_menuOpen) {
        showLiveLines();
    }
}

void AppDelegate::updateButton() {
    if (const auto button = m_statusItem ? m_statusItem->button() : nullptr) {
        button->setAppearsDisabled(m_controller && m_controller->paused());
    }
}

// Only the capture line changes with each message, so the history is redrawn only when what it
// shows has changed.
void AppDelegate::showLiveLines() {
    if (m_listeningItem) {
        updateListeningLine();
    }
    if (m_captureItem) {
        m_captureItem->setTitle(
            firstCharacters(m_controller ? m_controller->status() : "No se pudo iniciar la captura.", captureLineLength));
    }
    static const std::vector<GeneratedToken> noHistory;
    const std::vector<GeneratedToken>& history = m_controller ? m_controller->history() : noHistory;
    if (!m_shownHistory || !std::ranges::equal(*m_shownHistory, history, {}, {}, &GeneratedToken::text)) {
        updateHistoryItems();
        m_shownHistory.emplace();
        for (const GeneratedToken& token : history) {
            m_shownHistory->push_back(token.text);
        }
    }
}

void AppDelegate::updateListeningLine() {
    if (!m_lastError) {
        m_listeningItem->setTitle(listeningLine(m_midi ? m_midi->connected().size() : 0));
        m_listeningItem->setToolTip(std::nullopt);
        if (m_listeningItem->submenu()) {
            showOnlyTitle(*m_listeningItem);
        }
        return;
    }
    const std::string explanation = m_midi ? m_midi->errorExplanation() : std::string();
    const std::string toolTip = explanation.empty() ? *m_lastError : *m_lastError + "\n" + explanation;
    // Called at every change of the capture line: the submenu is made again only for a new text.
    if (m_listeningItem->toolTip() == toolTip && m_listeningItem->submenu()) {
        return;
    }
    m_listeningItem->setTitle(shortened(*m_lastError, foreignTextLength));
    m_listeningItem->setToolTip(toolTip);
    showWhole(*m_listeningItem, {*m_lastError, explanation}, foreignTextLength);
}

void AppDelegate::updateHistoryItems() {
    const GeneratedToken* newest = m_controller && !m_controller->history().empty() ? &m_controller->history().front() : nullptr;
    if (m_tokenItem) {
        if (newest) {
            const std::string& text = newest->text;
            m_tokenItem->setTitle(shortened(text, tokenLineLength));
            m_tokenItem->setToolTip(text);
            if (longerThan(text, tokenLineLength)) {
                showWhole(*m_tokenItem, {text}, tokenLineLength);
            } else if (m_tokenItem->submenu()) {
                showOnlyTitle(*m_tokenItem);
            }
        } else {
            m_tokenItem->setTitle("Todavía no hay un token");
            m_tokenItem->setToolTip(std::nullopt);
            if (m_tokenItem->submenu()) {
                showOnlyTitle(*m_tokenItem);
            }
        }
    }
    if (m_copyItem) {
        m_copyItem->setEnabled(newest != nullptr);
    }

    if (const auto recent = m_recentItem ? m_recentItem->submenu() : nullptr) {
        recent->removeAllItems();
        if (m_controller) {
            for (const GeneratedToken& token : m_controller->history()) {
                auto entry = item(firstCharacters(token.text, recentEntryLength), &AppDelegate::copyHistory, true);
                entry->setRepresentedValue(token.text);
                entry->setToolTip(token.text);
                if (longerThan(token.text, recentEntryLength)) {
                    auto copy = item("Copiar este token", &AppDelegate::copyHistory, true);
                    copy->setRepresentedValue(token.text);
                    showWholeWithCommand(*entry, token.text, recentEntryLength, std::move(copy));
                }
                recent->addItem(entry);
            }
        }
        m_recentItem->setEnabled(!recent->items().empty());
    }
}

void AppDelegate::updateInputs() {
    if (m_menuOpen) {
        showInputs();
    }
}

void AppDelegate::showInputs() {
    const auto inputs = m_inputItem ? m_inputItem->submenu() : nullptr;
    if (!inputs) {
        return;
    }
    inputs->removeAllItems();
    if (!m_midi || m_midi->sources().empty()) {
        inputs->addItem(item("No hay entradas disponibles", false));
    }
    if (m_midi) {
        for (const MIDISourceInfo& source : m_midi->sources()) {
            auto entry = item(shortened(source.name, foreignTextLength), &AppDelegate::toggleInput, true);
            entry->setToolTip(source.name);
            entry->setRepresentedValue(source.uniqueID);
            // The checkmark shows the connection, not the setting.
            const bool connected = m_midi->connected().contains(source.endpoint);
            entry->setState(connected);
            if (longerThan(source.name, foreignTextLength)) {
                auto listen = item("Escuchar esta entrada", &AppDelegate::toggleInput, true);
                listen->setRepresentedValue(source.uniqueID);
                listen->setState(connected);
                showWholeWithCommand(*entry, source.name, foreignTextLength, std::move(listen));
            }
            inputs->addItem(entry);
        }
    }
    inputs->addItem(m_desktop.menus->makeSeparator());
    inputs->addItem(item("Activar todas las entradas", &AppDelegate::enableAll, true));
    inputs->addItem(item("Actualizar lista", &AppDelegate::refreshInputs, true));
    m_inputItem->setEnabled(m_midi != nullptr);
}

void AppDelegate::copyLast() {
    if (m_controller && !m_controller->history().empty()) {
        m_controller->copy(m_controller->history().front());
    }
}

void AppDelegate::copyHistory(const platform::MenuItem& sender) {
    const auto value = sender.representedValue();
    const auto* text = std::get_if<std::string>(&value);
    if (!text || !m_controller) {
        return;
    }
    for (const GeneratedToken& token : m_controller->history()) {
        if (token.text == *text) {
            // A copy: copying notifies, and the menu may rebuild while the history is read.
            const GeneratedToken chosen = token;
            m_controller->copy(chosen);
            return;
        }
    }
}

void AppDelegate::togglePause() {
    if (m_controller) {
        m_controller->setPaused(!m_controller->paused());
    }
}

void AppDelegate::toggleTitle() {
    if (m_controller) {
        m_controller->setIncludeTitle(!m_controller->includeTitle());
    }
    m_defaults->setBool(includeTitleKey, m_controller ? m_controller->includeTitle() : true);
    m_settingsError = m_defaults->lastWriteError();
}

void AppDelegate::resetCapture() {
    if (m_controller) {
        m_controller->reset("Captura reiniciada.");
    }
}

void AppDelegate::toggleInput(const platform::MenuItem& sender) {
    const auto value = sender.representedValue();
    const auto* uniqueID = std::get_if<std::int32_t>(&value);
    if (!uniqueID) {
        return;
    }
    if (!m_disabledSources.erase(*uniqueID)) {
        m_disabledSources.insert(*uniqueID);
    }
    storeDisabledSources();
    if (m_midi) {
        m_midi->refresh();
    }
}

void AppDelegate::enableAll() {
    m_disabledSources.clear();
    storeDisabledSources();
    if (m_midi) {
        m_midi->refresh();
    }
}

void AppDelegate::refreshInputs() {
    m_lastError.reset();
    if (!m_midi) {
        return;
    }
    // With no client (it could not be opened, or reading failed) nothing listens: open it
    // again. A failure reports itself again and its text stays.
    if (m_midi->running()) {
        m_midi->refresh();
    } else {
        m_midi->start();
    }
}

void AppDelegate::quit() { m_desktop.application->terminate(); }

void AppDelegate::storeDisabledSources() {
    platform::SettingsArray ids;
    for (const std::int32_t id : m_disabledSources) {
        ids.emplace_back(std::int64_t{id});
    }
    m_defaults->setObject(disabledSourcesKey, std::move(ids));
    m_settingsError = m_defaults->lastWriteError();
}

} // namespace quenlitor
