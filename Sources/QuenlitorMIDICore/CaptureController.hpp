#pragma once

#include "MIDIStream.hpp"
#include "TokenGenerator.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenlitor {

namespace platform {
class Clipboard;
}

// The end of the road from MIDI to the clipboard: feeds the session, turns each finished gesture
// into a token, keeps the last ten tokens, copies the token and says what happened in one line
// of Spanish for the menu. Everything runs on the main thread; `onChange` announces every change
// the menu must show.
class CaptureController {
public:
    static constexpr std::size_t historyLimit = 10;

    CaptureController(TokenGenerator generator, std::shared_ptr<platform::Clipboard> pasteboard);

    // A decoded message from `source`. Ignored entirely while paused.
    void receive(const MIDIMessage& message, std::uint32_t source);
    // Copies `token` (in practice a history entry) again; the history keeps its order.
    void copy(const GeneratedToken& token);
    // Forgets the keys held and the gesture so far and shows `message`.
    void reset(const std::string& message);
    // The clipboard took `text` after all, after refusing it (its onLateWrite): the status says
    // so as it would have for that copy. Text of no refused copy changes nothing.
    void copiedLate(std::string_view text);

    const CaptureSession& session() const { return m_session; }
    // Newest first, at most ten, each token as the generator returned it.
    const std::vector<GeneratedToken>& history() const { return m_history; }
    // While keys are down, the "Tocando: " line is built here, when it is read, and only once per
    // change of the held notes: a message costs the same however many keys are held.
    const std::string& status() const;

    bool paused() const { return m_paused; }
    // Every write, even of the same value, forgets the session, sets the status and notifies.
    void setPaused(bool paused);
    bool includeTitle() const { return m_includeTitle; }
    // Takes effect with the next gesture; notifies nothing.
    void setIncludeTitle(bool includeTitle) { m_includeTitle = includeTitle; }

    // Called after each change of the status or the history; may be left unset.
    std::function<void()> onChange;

private:
    void finishGesture(const std::vector<std::ptrdiff_t>& notes);
    // The one path by which text reaches the clipboard; the caller notifies.
    void copyText(const std::string& text, const std::string& title, std::size_t noteCount);
    void setStatus(std::string status);
    void changed();

    CaptureSession m_session;
    std::vector<GeneratedToken> m_history;
    mutable std::string m_status;
    // The status is the "Tocando: " line of the keys down now...
    bool m_statusNamesHeldNotes = false;
    // ...and m_status does not hold it yet.
    mutable bool m_heldNotesStatusStale = false;
    bool m_paused = false;
    bool m_includeTitle = true;
    TokenGenerator m_generator;
    std::shared_ptr<platform::Clipboard> m_pasteboard;
    // The copies refused since the last confirmed one (the last ten), oldest first: clipboard text
    // and the status its success sets.
    std::vector<std::pair<std::string, std::string>> m_refusedCopies;
};

} // namespace quenlitor
