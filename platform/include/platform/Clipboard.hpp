#pragma once

#include <functional>
#include <string_view>

namespace quenlitor::platform {

// The desktop's general clipboard, as plain text.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Empties the clipboard before a write. Succeeds silently.
    virtual void clearContents() = 0;
    // Puts `text` (UTF-8) on the clipboard; false when the desktop refused it.
    virtual bool setString(std::string_view text) = 0;

    // Called with its text when a write that setString reported refused reaches the clipboard
    // after all (a desktop that answered too late); never for a write older than one confirmed
    // since. May be left unset.
    std::function<void(std::string_view text)> onLateWrite;
};

} // namespace quenlitor::platform
