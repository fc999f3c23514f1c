// Decoding any bytes never fails; cutting the stream anywhere gives the messages of decoding it
// whole; every message is well formed; a session fed the messages keeps its invariant.
#include "FuzzSupport.hpp"
#include "MIDIStream.hpp"

#include <algorithm>
#include <cstdlib>

using namespace quenlitor;
using quenlitor::fuzz::check;

namespace {

bool wellFormed(const MIDIMessage& m) {
    const bool channelOk = m.channel() >= 0 && m.channel() <= 15;
    switch (m.kind()) {
    case MIDIMessage::Kind::noteOn:
    case MIDIMessage::Kind::noteOff:
        return channelOk && m.note() >= 0 && m.note() <= 127;
    case MIDIMessage::Kind::allNotesOff:
        return channelOk && m.note() == 0;
    case MIDIMessage::Kind::reset:
        return m.note() == 0 && m.channel() == 0;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the cut lengths and the source of each piece's messages.
    const std::uint8_t cuts = data[0];
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    MIDIStreamDecoder whole;
    const std::vector<MIDIMessage> expected = whole.decode(stream);

    MIDIStreamDecoder pieces;
    std::vector<MIDIMessage> got;
    std::size_t at = 0;
    for (unsigned step = 0; at < stream.size(); ++step) {
        const std::size_t length = std::min<std::size_t>(stream.size() - at, ((cuts >> (step % 8)) & 7u) + step % 3);
        pieces.decode(stream.subspan(at, length), got);
        at += length;
    }
    check(got == expected);
    check(pieces == whole);

    CaptureSession session;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        check(wellFormed(expected[i]));
        const auto gesture = session.receive(expected[i], static_cast<std::uint32_t>(i % 3));
        check(!gesture || (!gesture->empty() && std::is_sorted(gesture->begin(), gesture->end())));
        const auto held = session.heldNotes();
        const auto captured = session.capturedNotes();
        check(std::includes(captured.begin(), captured.end(), held.begin(), held.end()));
        // The per-note key counts agree with the keys: a message's note is held exactly when
        // it is among the held notes.
        check(session.holdsAnyKey() == !held.empty());
        if (expected[i].kind() == MIDIMessage::Kind::noteOn || expected[i].kind() == MIDIMessage::Kind::noteOff) {
            const std::ptrdiff_t note = expected[i].note();
            check(session.holdsNote(note) == std::binary_search(held.begin(), held.end(), note));
        }
    }
    return 0;
}
