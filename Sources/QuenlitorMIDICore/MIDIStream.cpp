#include "MIDIStream.hpp"

#include <algorithm>
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

void MIDIStreamDecoder::decode(std::span<const std::uint8_t> bytes, std::vector<MIDIMessage>& out) {
    for (const std::uint8_t b : bytes) {
        byte(b, out);
    }
}

bool MIDIStreamDecoder::operator==(const MIDIStreamDecoder& other) const {
    return m_status == other.m_status && m_sysex == other.m_sysex && m_dataCount == other.m_dataCount &&
           std::equal(m_data.begin(), m_data.begin() + m_dataCount, other.m_data.begin());
}

void MIDIStreamDecoder::byte(std::uint8_t b, std::vector<MIDIMessage>& out) {
    if (b < 0x80) {
        // Data byte: skipped inside system exclusive and while no status is in force.
        if (m_sysex || !m_status) {
            return;
        }
        const std::uint8_t status = *m_status;
        const std::uint8_t hi = status & 0xF0;
        const std::ptrdiff_t channel = status & 0x0F;
        if (hi == 0xC0 || hi == 0xD0) {
            return; // program change and channel pressure: one data byte, nothing to report
        }
        m_data[m_dataCount++] = b;
        if (m_dataCount < 2) {
            return;
        }
        m_dataCount = 0; // running status: the next data bytes start a new message of this kind
        const std::uint8_t d0 = m_data[0];
        const std::uint8_t d1 = m_data[1];
        if (hi == 0x80 || (hi == 0x90 && d1 == 0)) {
            out.push_back(MIDIMessage::noteOff(d0, channel));
        } else if (hi == 0x90) {
            out.push_back(MIDIMessage::noteOn(d0, channel));
        } else if (hi == 0xB0 && (d0 == 123 || d0 == 120)) {
            out.push_back(MIDIMessage::allNotesOff(channel)); // all notes off, all sound off
        }
        return;
    }
    if (b == 0xFF) {
        *this = MIDIStreamDecoder{};
        out.push_back(MIDIMessage::reset());
        return;
    }
    if (b >= 0xF8) {
        return; // real-time bytes may fall anywhere, even inside a message, without effect
    }
    // A status byte abandons any half-assembled message and ends an open system exclusive.
    m_dataCount = 0;
    if (b == 0xF0) {
        m_sysex = true;
        m_status.reset();
    } else if (b >= 0xF1) {
        // System common (0xF7 included) cancels running status; its data bytes are ignored.
        m_sysex = false;
        m_status.reset();
    } else {
        m_sysex = false;
        m_status = b;
    }
}

std::optional<std::vector<std::ptrdiff_t>> CaptureSession::receive(const MIDIMessage& message, std::uint32_t source) {
    switch (message.kind()) {
    case MIDIMessage::Kind::allNotesOff:
    case MIDIMessage::Kind::reset:
        reset();
        return std::nullopt;
    case MIDIMessage::Kind::noteOn:
        m_held.insert(Key{source, message.channel(), message.note()});
        m_captured.insert(message.note());
        return std::nullopt;
    case MIDIMessage::Kind::noteOff:
        if (m_held.erase(Key{source, message.channel(), message.note()}) == 0 || !m_held.empty() ||
            m_captured.empty()) {
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
    m_captured.clear();
}

std::vector<std::ptrdiff_t> CaptureSession::heldNotes() const {
    std::vector<std::ptrdiff_t> notes;
    notes.reserve(m_held.size());
    for (const Key& key : m_held) {
        notes.push_back(key.note);
    }
    std::sort(notes.begin(), notes.end());
    notes.erase(std::unique(notes.begin(), notes.end()), notes.end());
    return notes;
}

std::vector<std::ptrdiff_t> CaptureSession::capturedNotes() const {
    return {m_captured.begin(), m_captured.end()};
}

} // namespace quenlitor
