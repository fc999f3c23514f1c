#include "CaptureController.hpp"

#include "TokenTextNormalizer.hpp"
#include "platform/Clipboard.hpp"

namespace quenlitor {

namespace {

const std::string readyStatus = "Toca una nota o un acorde.";
const std::string pausedStatus = "Captura en pausa";
const std::string resetStatus = "Captura reiniciada.";

std::string playingStatus(const std::vector<std::ptrdiff_t>& held) {
    std::string status = "Tocando: ";
    for (std::size_t i = 0; i < held.size(); ++i) {
        status += (i > 0 ? " · " : "") + TokenGenerator::noteName(held[i], true);
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
    if (const auto notes = m_session.receive(message, source)) {
        finishGesture(*notes);
    } else if (const auto held = m_session.heldNotes(); !held.empty()) {
        m_status = playingStatus(held);
    } else if (message.kind() == MIDIMessage::Kind::reset) {
        m_status = resetStatus;
    } else if (cancelsAGesture) {
        // The gesture was thrown away: the status must not go on naming keys that are no
        // longer held. With nothing underway the last "Copiado" line stays, since senders
        // often emit all-notes-off on every channel when they stop.
        m_status = resetStatus;
    }
    changed();
}

void CaptureController::finishGesture(const std::vector<std::ptrdiff_t>& notes) {
    GeneratedToken token;
    try {
        token = m_generator.generate(notes, m_includeTitle);
    } catch (const TokenError& error) {
        m_status = error.errorDescription();
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
    m_status = message;
    changed();
}

void CaptureController::setPaused(bool paused) {
    m_paused = paused;
    m_session.reset();
    m_status = paused ? pausedStatus : readyStatus;
    changed();
}

void CaptureController::copyText(const std::string& text, const std::string& title, std::size_t noteCount) {
    const std::string clipboardText = TokenTextNormalizer::token(text);
    std::string label = TokenTextNormalizer::title(title);
    m_pasteboard->clearContents();
    if (m_pasteboard->setString(clipboardText)) {
        if (label.empty()) {
            label = std::to_string(noteCount) + " notas · sin cifrado reconocido";
        }
        m_status = "Copiado: " + label;
    } else {
        m_status = "No se pudo copiar al portapapeles.";
    }
}

void CaptureController::changed() {
    if (onChange) {
        onChange();
    }
}

} // namespace quenlitor
