#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace quenlitor {

// One decoded MIDI event: a key going down or up, a request to silence one channel, or a
// system reset. Everything else a keyboard sends is dropped by the decoder.
class MIDIMessage {
public:
    enum class Kind { noteOn, noteOff, allNotesOff, reset };

    static MIDIMessage noteOn(std::ptrdiff_t note, std::ptrdiff_t channel) { return {Kind::noteOn, note, channel}; }
    static MIDIMessage noteOff(std::ptrdiff_t note, std::ptrdiff_t channel) { return {Kind::noteOff, note, channel}; }
    static MIDIMessage allNotesOff(std::ptrdiff_t channel) { return {Kind::allNotesOff, 0, channel}; }
    static MIDIMessage reset() { return {Kind::reset, 0, 0}; }

    Kind kind() const { return m_kind; }
    // Meaningful for noteOn and noteOff only; 0 otherwise.
    std::ptrdiff_t note() const { return m_note; }
    // Channel 0..15 for every kind but reset; 0 for reset.
    std::ptrdiff_t channel() const { return m_channel; }

    // The factories zero the fields a kind has no use for, so member-wise equality is equality
    // by kind and payload.
    bool operator==(const MIDIMessage&) const = default;

private:
    friend class MIDIStreamDecoder;
    MIDIMessage(Kind kind, std::ptrdiff_t note, std::ptrdiff_t channel) : m_kind(kind), m_note(note), m_channel(channel) {}

    Kind m_kind;
    std::ptrdiff_t m_note;
    std::ptrdiff_t m_channel;
};

// "noteOn 60 0", "noteOff 60 0", "allNotesOff 9", "reset".
std::string toString(const MIDIMessage& message);
std::ostream& operator<<(std::ostream& out, const MIDIMessage& message);
void PrintTo(const MIDIMessage& message, std::ostream* out);

// Turns the byte stream of one MIDI source into messages. The state carries over between calls,
// so a message split across deliveries is still decoded, running status included. Decoding never
// fails: malformed input is absorbed.
class MIDIStreamDecoder {
public:
    MIDIStreamDecoder() = default;

    // Decodes `bytes` and returns the messages they complete, in the order their last byte arrived.
    std::vector<MIDIMessage> decode(std::span<const std::uint8_t> bytes);
    // The same, appending to `out`, so a caller can reuse one buffer.
    void decode(std::span<const std::uint8_t> bytes, std::vector<MIDIMessage>& out);
    // Decodes `bytes` into `scratch` (emptied first; reused across calls, it spares an allocation
    // per chunk), then hands each message to `receive` in order. Nothing of the decoder is used
    // once the messages are decoded, so `receive` may even destroy it.
    template <typename Receive>
    void decodeEach(std::span<const std::uint8_t> bytes, std::vector<MIDIMessage>& scratch, Receive&& receive) {
        scratch.clear();
        decode(bytes, scratch);
        for (const MIDIMessage& message : scratch) {
            receive(message);
        }
    }

    bool operator==(const MIDIStreamDecoder&) const;

private:
    static void emit(std::uint8_t status, std::uint8_t d0, std::uint8_t d1, std::vector<MIDIMessage>& out);

    // The channel-voice status in force (running status), or none while data bytes are ignored.
    std::optional<std::uint8_t> m_status;
    // The first data byte of a two-byte message, while its second is awaited. No message needs
    // more, so the pending data lives inline and decoding never allocates for it.
    std::optional<std::uint8_t> m_data;
    // A system-exclusive message has begun and not yet ended.
    bool m_sysex = false;
};

// Decides when a gesture is over: follows every physical key that is down, across sources and
// channels, and collects the notes pressed since the keyboard was last fully released.
class CaptureSession {
public:
    CaptureSession() = default;

    // Returns the gesture's notes, ascending, exactly when this message released the last key
    // still down; nothing otherwise. allNotesOff and reset (on any channel) forget everything.
    std::optional<std::vector<std::ptrdiff_t>> receive(const MIDIMessage& message, std::uint32_t source);
    void reset();

    // The distinct notes of the keys down now, ascending.
    std::vector<std::ptrdiff_t> heldNotes() const;
    // Whether any key is down, and whether one with `note` is, without building the list.
    bool holdsAnyKey() const { return !m_held.empty(); }
    bool holdsNote(std::ptrdiff_t note) const { return m_heldNoteKeys.contains(note); }
    // The notes pressed during the current gesture, ascending.
    std::vector<std::ptrdiff_t> capturedNotes() const;

    bool operator==(const CaptureSession&) const = default;

private:
    // One physical key: the same note on two channels or from two sources is two keys.
    struct Key {
        std::uint32_t source;
        std::ptrdiff_t channel;
        std::ptrdiff_t note;
        auto operator<=>(const Key&) const = default;
    };

    std::set<Key> m_held;
    // How many of the held keys play each note: the distinct held notes without a walk over
    // every key, which may be thousands.
    std::map<std::ptrdiff_t, std::size_t> m_heldNoteKeys;
    std::set<std::ptrdiff_t> m_captured;
};

} // namespace quenlitor
