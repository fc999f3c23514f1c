#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace quenlitor::platform {

class Menu;

// Told by the application object, on the main thread, when the event loop has started and when
// the application is about to end.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
};

// The face of the status item in the panel.
class StatusButton {
public:
    virtual ~StatusButton() = default;

    // Shows the desktop's symbol `symbolName` as a monochrome image that follows the panel's
    // light or dark appearance; false when the desktop has no such symbol.
    virtual bool setSymbolImage(std::string_view symbolName, std::string_view accessibilityDescription) = 0;
    // A short text beside the image, where the panel can show one.
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    virtual void setAccessibilityLabel(const std::string& label) = 0;
    // Dimmed (for instance while capture is paused) or normal. Setting the appearance the button
    // already has changes nothing, so callers may set it as often as they like.
    virtual void setAppearsDisabled(bool disabled) = 0;
};

// The application's one item in the desktop's status area (menu bar, tray, panel).
class StatusItem {
public:
    virtual ~StatusItem() = default;

    // The item's button; null where the desktop gives none.
    virtual std::shared_ptr<StatusButton> button() = 0;
    // Clicking the item opens `menu`.
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
};

// The one application object: its event loop, its delegate and its status item.
class Application {
public:
    virtual ~Application() = default;

    // The delegate is held weakly (it usually holds the application): whoever sets it keeps it
    // alive while the loop runs; a delegate that is gone is told nothing.
    virtual void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) = 0;
    // Runs the event loop: calls applicationDidFinishLaunching once it runs, and returns after
    // terminate() (or the desktop's own request to end) once applicationWillTerminate has run.
    virtual int run() = 0;
    // Asks for an orderly quit; the loop ends after the tasks already running.
    virtual void terminate() = 0;
    // A new item in the status area, sized to its content.
    virtual std::shared_ptr<StatusItem> makeStatusItem() = 0;
};

} // namespace quenlitor::platform
