#include "MIDIStream.hpp"

#include <ostream>

namespace quenlitor {

std::string toString(const MIDIMessage& message) {
    switch (message.kind()) {
    case MIDIMessage::Kind::noteOn:
        return "noteOn " + std::to_string(message.note()) + " " + std::to_string(message.channel());
    case MIDIMessage::Kind::noteOff:
        return "noteOff " + std::to_string(message.note()) + " " + std::to_string(message.channel());
    case MIDIMessage::Kind::allNotesOff:
        return "allNotesOff " + std::to_string(message.channel());
    case MIDIMessage::Kind::reset:
        return "reset";
    }
    return {};
}

std::ostream& operator<<(std::ostream& out, const MIDIMessage& message) { return out << toString(message); }

void PrintTo(const MIDIMessage& message, std::ostream* out) { *out << toString(message); }

std::vector<MIDIMessage> MIDIStreamDecoder::decode(std::span<const std::uint8_t> bytes) {
    std::vector<MIDIMessage> messages;
    decode(bytes, messages);
    return messages;
}

namespace {

// Program change and channel pressure carry one data byte and report nothing.
bool ignoresData(std::uint8_t status) { return (status & 0xE0) == 0xC0; }

} // namespace

void MIDIStreamDecoder::emit(std::uint8_t status, std::uint8_t d0, std::uint8_t d1, std::vector<MIDIMessage>& out) {
    const std::uint8_t hi = status & 0xF0;
    const std::ptrdiff_t channel = status & 0x0F;
    if ((hi & 0xE0) == 0x80) { // note off (0x8n) or note on (0x9n)
        // A note-on with velocity 0 releases too; the velocity has no other use. The kind is
        // chosen without a branch: whether a key goes down or up is as unpredictable as music.
        const bool released = (hi == 0x80) | (d1 == 0);
        out.push_back(MIDIMessage(released ? MIDIMessage::Kind::noteOff : MIDIMessage::Kind::noteOn, d0, channel));
    } else if (hi == 0xB0 && (d0 == 123 || d0 == 120)) {
        out.push_back(MIDIMessage::allNotesOff(channel)); // all notes off, all sound off
    }
    // Other controllers (the sustain pedal among them), polyphonic pressure and pitch bend:
    // nothing.
}

// Flattened so the vector's append is inlined into the byte loop.
[[gnu::flatten]] void MIDIStreamDecoder::decode(std::span<const std::uint8_t> bytes, std::vector<MIDIMessage>& out) {
    // The state lives in locals for the loop: writes to `out` could otherwise alias the members
    // and force a reload of every field for every byte. A status of 0 stands for none (status
    // bytes are 0x80 and above), and an open system exclusive always has no status in force, so
    // one test decides whether a data byte counts.
    std::uint8_t status = m_status.value_or(0);
    bool skipData = status == 0 || ignoresData(status);
    std::optional<std::uint8_t> first = m_data;
    bool sysex = m_sysex;

    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            if (skipData) {
                continue;
            }
            if (first) {
                emit(status, *first, b, out);
                first.reset(); // running status: the next data bytes start a new message of this kind
            } else if (i + 1 < size && bytes[i + 1] < 0x80) {
                emit(status, b, bytes[i + 1], out); // the usual case: both data bytes at hand
                ++i;
            } else {
                first = b;
            }
        } else if (b >= 0xF8) {
            if (b == 0xFF) {
                status = 0;
                skipData = true;
                first.reset();
                sysex = false;
                out.push_back(MIDIMessage::reset());
            }
            // Other real-time bytes may fall anywhere, even inside a message, without effect.
        } else {
            // A status byte abandons any half-assembled message and ends an open system
            // exclusive; system common (0xF7 included) also cancels running status.
            first.reset();
            sysex = b == 0xF0;
            status = b < 0xF0 ? b : 0;
            skipData = status == 0 || ignoresData(status);
        }
    }

    m_status = status == 0 ? std::nullopt : std::optional<std::uint8_t>(status);
    m_data = first;
    m_sysex = sysex;
}

bool MIDIStreamDecoder::operator==(const MIDIStreamDecoder&) const = default;

std::optional<std::vector<std::ptrdiff_t>> CaptureSession::receive(const MIDIMessage& message, std::uint32_t source) {
    switch (message.kind()) {
    case MIDIMessage::Kind::allNotesOff:
    case MIDIMessage::Kind::reset:
        reset();
        return std::nullopt;
    case MIDIMessage::Kind::noteOn:
        if (m_held.insert(Key{source, message.channel(), message.note()}).second) {
            ++m_heldNoteKeys[message.note()];
        }
        m_captured.insert(message.note());
        return std::nullopt;
    case MIDIMessage::Kind::noteOff:
        if (m_held.erase(Key{source, message.channel(), message.note()}) == 0) {
            return std::nullopt;
        }
        if (const auto keys = m_heldNoteKeys.find(message.note()); --keys->second == 0) {
            m_heldNoteKeys.erase(keys);
        }
        // Every key released here was captured when it went down: the gesture is never empty.
        if (!m_held.empty()) {
            return std::nullopt;
        }
        std::vector<std::ptrdiff_t> gesture(m_captured.begin(), m_captured.end());
        m_captured.clear();
        return gesture;
    }
    return std::nullopt;
}

void CaptureSession::reset() {
    m_held.clear();
    m_heldNoteKeys.clear();
    m_captured.clear();
}

std::vector<std::ptrdiff_t> CaptureSession::heldNotes() const {
    std::vector<std::ptrdiff_t> notes;
    notes.reserve(m_heldNoteKeys.size());
    for (const auto& [note, keys] : m_heldNoteKeys) {
        notes.push_back(note);
    }
    return notes;
}

std::vector<std::ptrdiff_t> CaptureSession::capturedNotes() const {
    return {m_captured.begin(), m_captured.end()};
}

} // namespace quenlitor
