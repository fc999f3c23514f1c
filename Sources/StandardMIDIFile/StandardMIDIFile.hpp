#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <queue>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenlitor::tokens {

// Larger than any real Standard MIDI File: input beyond it is refused before it is held whole.
constexpr std::size_t maximumMIDIFileSize = std::size_t{64} << 20;

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

// Reads the events of a Standard MIDI File as the bytes a MIDI cable would carry: channel
// messages with their status byte, system-exclusive messages from their 0xF0; meta events are
// skipped. Formats 0 and 1 merge the tracks in time order, events at the same time kept in track
// order; format 2 plays each track whole after the one before it, from tick 0 when that one ends.
//
// A damaged file is read as far as it goes. A track whose chunk runs past the end of the file, or
// whose length a recorder left at 0 or 0xFFFFFFFF, is read to its end-of-track event or to the
// end of the file. Faults are reported when the reading reaches them, so everything before a
// fault in time order has been handed out first; damage that loses no event (a wrong track
// length whose end of track was found, a broken chunk after the tracks) is reported after the
// last event. Memory stays a small multiple of the file's size.
class StandardMIDIFileReader {
public:
    // Checks the header and finds the tracks. Throws MIDIFileError, also when there is no track.
    explicit StandardMIDIFileReader(std::span<const std::uint8_t> file);

    // Replaces `bytes` with the next event's bytes; false at the end. Throws MIDIFileError.
    bool next(std::vector<std::uint8_t>& bytes);

    std::size_t trackCount() const { return m_tracks.size(); }
    // The number of tracks the header announces; a file may hold fewer, or more.
    std::size_t declaredTrackCount() const { return m_declaredTrackCount; }

private:
    struct Track {
        std::size_t start;    // offset of the chunk's header
        std::size_t position; // offset of the next byte to read
        std::size_t end;      // offset just past the track
        std::uint64_t time = 0;
        std::uint8_t runningStatus = 0;
        bool brokenDelta = false;
        bool cut = false;        // the file ends inside the track: running out is a fault
        bool endOfTrack = false; // its end-of-track event has been read
    };
    struct Pending {
        std::uint64_t time;
        std::size_t track;
        bool operator>(const Pending& other) const {
            return time != other.time ? time > other.time : track > other.track;
        }
    };

    // Where the track whose events begin at `position` really ends: just past its end-of-track
    // event; none when the file ends or breaks before one.
    std::optional<std::size_t> findEndOfTrack(std::size_t position) const;
    // Keeps the first damage found while looking for the tracks, to report after the last event.
    void noteDamage(MIDIFileError damage);
    // Queues the track's next event, if it has one; in format 2, the next track's first event
    // when this one has ended.
    void schedule(std::size_t index);
    // Reads the next event's delta time into the track's clock; false at the track's end.
    bool readDelta(Track& track) const;
    // Reads the event at the track's position; appends its bytes (none for a meta event).
    void readEvent(Track& track, std::vector<std::uint8_t>& bytes) const;
    std::uint32_t readVariableLength(Track& track) const;
    std::uint8_t readByte(Track& track) const;
    // The fault of running out of a track that the end of the file cut short.
    MIDIFileError cutShort(const Track& track) const;

    std::span<const std::uint8_t> m_file;
    std::uint32_t m_format = 0;
    std::size_t m_declaredTrackCount = 0;
    std::vector<Track> m_tracks;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> m_queue;
    std::optional<MIDIFileError> m_damage;
};

} // namespace quenlitor::tokens
