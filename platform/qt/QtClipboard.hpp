#pragma once

#include "platform/Clipboard.hpp"

namespace quenlitor::platform::qt {

// The desktop's clipboard, the one Ctrl+V pastes from (QClipboard::Clipboard). The X11 primary
// selection, pasted with the middle button, is left alone: it means "the text highlighted now",
// and overwriting it after every gesture would take away whatever the user had selected in
// another window. Needs the application object.
class QtClipboard final : public Clipboard {
public:
    void clearContents() override;
    // Writes, then reads back: Qt reports no refusal of its own (a Wayland compositor drops the
    // write of a client without a focused window, an X server may refuse the ownership), so the
    // write counts as done only when the clipboard holds the text afterwards.
    bool setString(std::string_view text) override;
};

} // namespace quenlitor::platform::qt
