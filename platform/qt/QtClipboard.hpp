#pragma once

#include "platform/Clipboard.hpp"

#include <memory>

namespace quenlitor::platform::qt {

// The desktop's clipboard, the one Ctrl+V pastes from (QClipboard::Clipboard). The X11 primary
// selection, pasted with the middle button, is left alone: it means "the text highlighted now",
// and overwriting it after every gesture would take away whatever the user had selected in
// another window. Needs the application object.
class QtClipboard final : public Clipboard {
public:
    // Empties the clipboard once the event loop runs again, unless text is written first: a write
    // replaces the contents whole, and clearing the X selection before it would cost two round
    // trips to the server and show clipboard managers an empty clipboard for a moment.
    void clearContents() override;
    // Writes, then reads back: Qt reports no refusal of its own (a Wayland compositor drops the
    // write of a client without a focused window, an X server may refuse the ownership), so the
    // write counts as done only when the clipboard holds the text afterwards.
    bool setString(std::string_view text) override;

private:
    // Shared with the queued clear, which must find out whether a write came first.
    std::shared_ptr<bool> m_clearPending = std::make_shared<bool>(false);
};

} // namespace quenlitor::platform::qt
