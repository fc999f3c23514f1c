// Any bytes as a Standard MIDI File: the reader either hands out events or reports a
// MIDIFileError; it never crashes, never loops, and its memory stays proportional to the input.
#include "StandardMIDIFile.hpp"

#include <cstdlib>

using namespace quenlitor::tokens;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    try {
        StandardMIDIFileReader reader(file);
        // Every track chunk takes at least its 8-byte header.
        if (reader.trackCount() > size / 8) {
            std::abort();
        }
        std::vector<std::uint8_t> event;
        std::size_t events = 0;
        std::size_t bytes = 0;
        while (reader.next(event)) {
            // Each event comes from at least two bytes of the file (a delta time and a status),
            // and gives out at most one byte more than it read.
            ++events;
            bytes += event.size();
            if (events > size / 2 || bytes > size + events) {
                std::abort();
            }
        }
    } catch (const MIDIFileError& error) {
        if (error.offset() > size) {
            std::abort();
        }
    }
    return 0;
}
