#pragma once

#include <cstddef>
#include <cstdint>
#include <queue>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenlitor::tokens {

// A Standard MIDI File that breaks its own rules, with the offset of the offending byte.
class MIDIFileError : public std::runtime_error {
public:
    MIDIFileError(std::size_t offset, const std::string& problem);
    std::size_t offset() const { return m_offset; }

private:
    std::size_t m_offset;
};

// True when `bytes` begin like a Standard MIDI File.
bool looksLikeStandardMIDIFile(std::span<const std::uint8_t> bytes);

// Reads the events of a Standard MIDI File (format 0 or 1) in time order, the tracks merged and
// events at the same time kept in track order, as the bytes a MIDI cable would carry: channel
// messages with their status byte, system-exclusive messages from their 0xF0; meta events are
// skipped. Faults are reported when the reading reaches them, so everything before a fault in
// time order has been handed out first. Memory stays a small multiple of the file's size.
class StandardMIDIFileReader {
public:
    // Checks the header and finds the tracks. Throws MIDIFileError.
    explicit StandardMIDIFileReader(std::span<const std::uint8_t> file);

    // Replaces `bytes` with the next event's bytes; false at the end. Throws MIDIFileError.
    bool next(std::vector<std::uint8_t>& bytes);

    std::size_t trackCount() const { return m_tracks.size(); }

private:
    struct Track {
        std::size_t position; // offset of the next byte to read
        std::size_t end;      // offset just past the chunk
        std::uint64_t time = 0;
        std::uint8_t runningStatus = 0;
        bool brokenDelta = false;
    };
    struct Pending {
        std::uint64_t time;
        std::size_t track;
        bool operator>(const Pending& other) const {
            return time != other.time ? time > other.time : track > other.track;
        }
    };

    // Queues the track's next event, if it has one.
    void schedule(std::size_t index);
    // Reads the next event's delta time into the track's clock; false at the track's end.
    bool readDelta(Track& track);
    // Reads the event at the track's position; appends its bytes (none for a meta event).
    void readEvent(Track& track, std::vector<std::uint8_t>& bytes);
    std::uint32_t readVariableLength(Track& track);
    std::uint8_t readByte(Track& track);

    std::span<const std::uint8_t> m_file;
    std::vector<Track> m_tracks;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> m_queue;
};

} // namespace quenlitor::tokens
