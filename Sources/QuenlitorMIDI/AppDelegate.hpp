#pragma once

#include "platform/Desktop.hpp"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor {

class CaptureController;
class ChordRecognizer;
class MIDIInputService;

// The tray application: starts the services, keeps the two settings, and presents the status
// menu and its commands. Written against the desktop's narrow interfaces only, so all of it runs
// in tests on the in-memory bindings.
class AppDelegate final : public platform::ApplicationDelegate,
                          public platform::MenuDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(platform::Desktop desktop);

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void menuWillOpen(platform::Menu& menu) override;
    void menuDidClose(platform::Menu& menu) override;

    // Throws every item away and builds the menu again, showing everything as it is now.
    void rebuildMenu();
    // Dims the button while paused and, while the menu is open, refreshes the listening, capture
    // and token lines and the recent tokens in place. A closed menu is left as it is: it is
    // rebuilt when it opens.
    void updateLiveItems();
    // While the menu is open, refreshes the MIDI inputs submenu in place.
    void updateInputs();

    // The menu's commands.
    void copyLast();
    void copyHistory(const platform::MenuItem& sender);
    void togglePause();
    void toggleTitle();
    void resetCapture();
    void toggleInput(const platform::MenuItem& sender);
    void enableAll();
    void refreshInputs();
    void quit();

    const std::shared_ptr<platform::Menu>& menu() const { return m_menu; }
    const std::shared_ptr<platform::StatusItem>& statusItem() const { return m_statusItem; }
    const std::shared_ptr<CaptureController>& controller() const { return m_controller; }
    const std::shared_ptr<MIDIInputService>& midi() const { return m_midi; }
    const std::set<std::int32_t>& disabledSources() const { return m_disabledSources; }
    const std::optional<std::string>& lastError() const { return m_lastError; }
    const std::optional<std::string>& settingsError() const { return m_settingsError; }

private:
    using Command = void (AppDelegate::*)();
    using ItemCommand = void (AppDelegate::*)(const platform::MenuItem&);

    bool anotherInstanceRuns() const;
    void configureButton();
    void readDisabledSources();
    bool readIncludeTitle() const;
    void startServices(std::shared_ptr<const ChordRecognizer> recognizer);
    std::shared_ptr<const ChordRecognizer> loadRecognizer();
    void storeDisabledSources();

    std::shared_ptr<platform::MenuItem> item(const std::string& title, bool enabled);
    std::shared_ptr<platform::MenuItem> item(const std::string& title, Command command, bool enabled);
    std::shared_ptr<platform::MenuItem> item(const std::string& title, ItemCommand command, bool enabled);
    // A disabled line showing a text that comes from elsewhere: cut to fit, whole in its tool tip
    // and, when cut, in its submenu.
    std::shared_ptr<platform::MenuItem> foreignTextItem(const std::string& text);
    // Gives `line` a submenu holding `paragraphs` whole, in lines of at most `width` characters.
    void showWhole(platform::MenuItem& line, std::initializer_list<std::string_view> paragraphs, std::size_t width);
    // Takes the submenu away: the line is read only again.
    void showOnlyTitle(platform::MenuItem& line);
    // A command whose title is cut: its submenu holds the whole text and, under it, `command`
    // doing what the line does.
    void showWholeWithCommand(platform::MenuItem& line, const std::string& text, std::size_t width,
                              std::shared_ptr<platform::MenuItem> command);
    std::shared_ptr<platform::Menu> usageMenu();
    void updateButton();
    void showLiveLines();
    void showInputs();
    void updateListeningLine();
    void updateHistoryItems();

    platform::Desktop m_desktop;
    std::shared_ptr<platform::StatusItem> m_statusItem;
    std::shared_ptr<CaptureController> m_controller;
    std::shared_ptr<MIDIInputService> m_midi;
    std::shared_ptr<platform::Menu> m_menu;
    std::shared_ptr<platform::SettingsStore> m_defaults;
    std::set<std::int32_t> m_disabledSources;
    // What went wrong with the dictionary or the MIDI service; the service keeps the system's
    // reason and what to do, shown in the listening line's tool tip.
    std::optional<std::string> m_lastError;
    // Why the settings could not be saved; a menu line says so until a later write succeeds.
    std::optional<std::string> m_settingsError;
    // The token texts the history items show now; unknown after a rebuild made new items.
    std::optional<std::vector<std::string>> m_shownHistory;
    // Between the menu's opening and its closing, as the desktop reports them.
    bool m_menuOpen = false;
    std::shared_ptr<platform::MenuItem> m_listeningItem;
    std::shared_ptr<platform::MenuItem> m_captureItem;
    std::shared_ptr<platform::MenuItem> m_tokenItem;
    std::shared_ptr<platform::MenuItem> m_copyItem;
    std::shared_ptr<platform::MenuItem> m_recentItem;
    std::shared_ptr<platform::MenuItem> m_inputItem;
};

} // namespace quenlitor
