#pragma once

#include "platform/Clipboard.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace quenlitor::platform::wayland {

// The Wayland selection, owned through the compositor's data-control protocol
// (ext_data_control_manager_v1, or wlroots' zwlr_data_control_manager_v1, which KWin offers too)
// from a connection of its own, so that no window and no focus are needed. The token is served as
// UTF-8 text to every client that asks, until another client takes the selection. Main thread
// only; nothing here ever waits on a reader, and a wait on the compositor is bounded.
class DataControlClipboard final : public Clipboard {
public:
    // Connects to the compositor named by `display` (WAYLAND_DISPLAY when null). Null when there
    // is no compositor, or it offers no data-control manager or no seat, or it does not answer
    // within `patience`.
    static std::shared_ptr<DataControlClipboard> connect(const char* display = nullptr,
                                                         std::chrono::milliseconds patience = std::chrono::milliseconds(1000));

    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    // Nothing: a write replaces the selection whole, and clearing it first would show clipboard
    // managers and the X11 bridge an empty clipboard for a moment.
    void clearContents() override;
    // Offers `text` as the selection and answers true once this connection's own device announces
    // that selection as this copy's; false when the compositor ignores it, another client takes
    // the selection first, or the compositor stays silent for 250 ms, and false at once while
    // not connected(). A copy refused for want of an answer stays offered until a later copy is
    // confirmed: should the compositor make it the selection, onLateWrite tells.
    bool setString(std::string_view text) override;

    // A descriptor that becomes readable whenever dispatch() has work (the compositor wrote, a
    // slow reader can take more, or one's time is up); watch it with the event loop. Valid for
    // the object's life.
    int descriptor() const;
    // Handles what the compositor sent and feeds readers that can take more; never blocks.
    void dispatch();

    // The manager in use: "ext_data_control_manager_v1" or "zwlr_data_control_manager_v1".
    std::string_view protocol() const;
    // False once the compositor has gone away, and while there is no data-control device: the
    // seat went, or the compositor ended the device before it said anything. One that ends is
    // replaced, and a seat that comes is taken.
    bool connected() const;
    // Whether the selection announced last is the last copy's.
    bool ownsSelection() const;
    // Readers that have not taken all of their text yet.
    std::size_t waitingReaders() const;
    // Copies whose source the compositor may still use: the selection's, and those refused for
    // want of an answer in time.
    std::size_t offeredCopies() const;

    // Called for every selection the device announces, with whether it is this process' copy.
    std::function<void(bool ours)> onSelection;

    struct Session;

private:
    explicit DataControlClipboard(std::unique_ptr<Session> session);
    std::unique_ptr<Session> m_session;
};

} // namespace quenlitor::platform::wayland
