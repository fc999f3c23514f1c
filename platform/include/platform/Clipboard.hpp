#pragma once

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
};

} // namespace quenlitor::platform
