#include "CaptureController.hpp"

#include "TokenTextNormalizer.hpp"
#include "platform/Clipboard.hpp"

#include <algorithm>

namespace quenlitor {

namespace {

const std::string readyStatus = "Toca una nota o un acorde.";
const std::string pausedStatus = "Captura en pausa";
const std::string resetStatus = "Captura reiniciada.";

std::string playingStatus(const std::vector<std::ptrdiff_t>& held) {
    std::string status = "Tocando: ";
    status.reserve(status.size() + held.size() * 8);
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (i > 0) {
            status += " · ";
        }
        status += TokenGenerator::noteName(held[i], true);
    }
    return status;
}

} // namespace

CaptureController::CaptureController(TokenGenerator generator, std::shared_ptr<platform::Clipboard> pasteboard)
    : m_status(readyStatus), m_generator(std::move(generator)), m_pasteboard(std::move(pasteboard)) {}

void CaptureController::receive(const MIDIMessage& message, std::uint32_t source) {
    if (m_paused) {
        return;
    }
    // Asked only where it matters: every other message is spared building the list of notes.
    const bool cancelsAGesture =
        message.kind() == MIDIMessage::Kind::allNotesOff && !m_session.capturedNotes().empty();
    const bool isNote = message.kind() == MIDIMessage::Kind::noteOn || message.kind() == MIDIMessage::Kind::noteOff;
    const bool noteWasHeld = isNote && m_session.holdsNote(message.note());
    if (const auto notes = m_session.receive(message, source)) {
        finishGesture(*notes);
    } else if (m_session.holdsAnyKey()) {
        // Another key of a note already down, or the release of one of two keys of a note,
        // leaves the line as it is.
        if (!m_statusNamesHeldNotes || noteWasHeld != m_session.holdsNote(message.note())) {
            m_statusNamesHeldNotes = true;
            m_heldNotesStatusStale = true;
        }
    } else if (message.kind() == MIDIMessage::Kind::reset) {
        setStatus(resetStatus);
    } else if (cancelsAGesture) {
        // The gesture was thrown away: the status must not go on naming keys that are no
        // longer held. With nothing underway the last "Copiado" line stays, since senders
        // often emit all-notes-off on every channel when they stop.
        setStatus(resetStatus);
    }
    changed();
}

const std::string& CaptureController::status() const {
    if (m_heldNotesStatusStale) {
        m_status = playingStatus(m_session.heldNotes());
        m_heldNotesStatusStale = false;
    }
    return m_status;
}

void CaptureController::setStatus(std::string status) {
    m_status = std::move(status);
    m_statusNamesHeldNotes = false;
    m_heldNotesStatusStale = false;
}

void CaptureController::finishGesture(const std::vector<std::ptrdiff_t>& notes) {
    GeneratedToken token;
    try {
        token = m_generator.generate(notes, m_includeTitle);
    } catch (const TokenError& error) {
        setStatus(error.errorDescription());
        return;
    }
    // A gesture played again in a row is one entry; the same text further back is kept.
    if (m_history.empty() || m_history.front().text != token.text) {
        m_history.insert(m_history.begin(), token);
        if (m_history.size() > historyLimit) {
            m_history.resize(historyLimit);
        }
    }
    copyText(token.text, token.title, token.notes.size());
}

void CaptureController::copy(const GeneratedToken& token) {
    copyText(token.text, token.title, token.notes.size());
    changed();
}

void CaptureController::reset(const std::string& message) {
    m_session.reset();
    setStatus(message);
    changed();
}

void CaptureController::setPaused(bool paused) {
    m_paused = paused;
    m_session.reset();
    setStatus(paused ? pausedStatus : readyStatus);
    changed();
}

void CaptureController::copyText(const std::string& text, const std::string& title, std::size_t noteCount) {
    std::string clipboardText = TokenTextNormalizer::token(text);
    std::string label = TokenTextNormalizer::title(title);
    if (label.empty()) {
        label = std::to_string(noteCount) + " notas · sin cifrado reconocido";
    }
    m_pasteboard->clearContents();
    if (m_pasteboard->setString(clipboardText)) {
        setStatus("Copiado: " + label);
        // The clipboard never takes a write older than a confirmed one.
        m_refusedCopies.clear();
        return;
    }
    setStatus("No se pudo copiar al portapapeles.");
    m_refusedCopies.emplace_back(std::move(clipboardText), "Copiado: " + label);
    if (m_refusedCopies.size() > historyLimit) {
        m_refusedCopies.erase(m_refusedCopies.begin());
    }
}

void CaptureController::copiedLate(std::string_view text) {
    // Plain reverse iterators: clang's fuzzing build cannot use libstdc++ 12's range views.
    const auto newest = std::find_if(m_refusedCopies.rbegin(), m_refusedCopies.rend(),
                                     [text](const auto& refused) { return refused.first == text; });
    if (newest == m_refusedCopies.rend()) {
        return;
    }
    setStatus(newest->second);
    m_refusedCopies.erase(std::next(newest).base());
    changed();
}

void CaptureController::changed() {
    if (onChange) {
        onChange();
    }
}

} // namespace quenlitor
