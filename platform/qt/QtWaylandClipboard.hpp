#pragma once

#include "platform/Clipboard.hpp"

#include <memory>

class QSocketNotifier;

namespace quenlitor::platform::wayland {
class DataControlClipboard;
}

namespace quenlitor::platform::qt {

// The clipboard on a Wayland desktop whose compositor offers data-control: the selection is owned
// through the Wayland binding's own connection, whose events the Qt event loop dispatches (also at
// a slow reader's time limit). Needs the application object.
class QtWaylandClipboard final : public Clipboard {
public:
    explicit QtWaylandClipboard(std::shared_ptr<wayland::DataControlClipboard> selection);
    ~QtWaylandClipboard() override;

    void clearContents() override;
    bool setString(std::string_view text) override;

private:
    std::shared_ptr<wayland::DataControlClipboard> m_selection;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quenlitor::platform::qt
