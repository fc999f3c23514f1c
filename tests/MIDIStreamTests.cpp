#include "MIDIStream.hpp"

#include <gtest/gtest.h>

#include <random>

namespace quenlitor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<MIDIMessage>;
using Notes = std::vector<std::ptrdiff_t>;

const auto on = MIDIMessage::noteOn;
const auto off = MIDIMessage::noteOff;

TEST(MIDIStreamDecoder, DecodesEachKindOfInput) {
    const std::tuple<const char*, Bytes, Messages> cases[] = {
        {"note, running-status release, clock, all notes off, reset",
         {0x90, 0x3C, 0x64, 0x40, 0x00, 0xF8, 0xB0, 0x7B, 0x00, 0xFF},
         {on(60, 0), off(64, 0), MIDIMessage::allNotesOff(0), MIDIMessage::reset()}},
        {"channels count from 0; note off", {0x9F, 0x30, 0x7F, 0x80, 0x3C, 0x40}, {on(48, 15), off(60, 0)}},
        {"real time inside a message, then running status",
         {0x90, 0x3C, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0x64, 0x3E, 0x40}, {on(60, 0), on(62, 0)}},
        {"status abandons a half message", {0x90, 0x3C, 0x80, 0x3E, 0x00}, {off(62, 0)}},
        {"sysex payload skipped, real time inside, no status after F7", {0xF0, 0x43, 0xF8, 0x10, 0xF7, 0x3C, 0x64}, {}},
        {"system common cancels running status", {0x90, 0x3C, 0x64, 0xF6, 0x3E, 0x64}, {on(60, 0)}},
        {"song position data ignored", {0xF2, 0x3C, 0x64, 0x90, 0x3C, 0x64}, {on(60, 0)}},
        {"channel status ends sysex without F7", {0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64}, {on(60, 0)}},
        {"all sound off; sustain, reset all controllers, mode messages",
         {0xB1, 0x78, 0x7F, 0xB0, 0x40, 0x7F, 0x79, 0x00, 0x7C, 0x00, 0x7F, 0x00}, {MIDIMessage::allNotesOff(1)}},
        {"program change has one data byte", {0xC0, 0x05, 0x06, 0x90, 0x3C, 0x64}, {on(60, 0)}},
        {"channel pressure then notes by running status", {0xD3, 0x10, 0x11, 0x93, 0x3C, 0x64}, {on(60, 3)}},
        {"pitch bend and poly pressure dropped", {0xE0, 0x00, 0x40, 0xA0, 0x3C, 0x10}, {}},
        {"stray data; reset cancels a half message and running status", {0x3C, 0x64, 0x90, 0x3C, 0xFF, 0x64},
         {MIDIMessage::reset()}},
        {"undefined status bytes absorbed", {0xF4, 0x3C, 0xF5, 0x64, 0xF9, 0xFD}, {}},
    };
    for (const auto& [what, bytes, expected] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(MIDIStreamDecoder().decode(bytes), expected);
    }
}

// Reset and system bytes leave a fresh decoder; data that reports nothing is dropped, never
// half-assembled into a message.
TEST(MIDIStreamDecoder, ResetAndSystemBytesLeaveAFreshDecoder) {
    for (const auto& [run, same] : {std::pair{Bytes{0xF0, 0x01, 0x92, 0x3C, 0xFF}, Bytes{}}, {Bytes{0x92, 0x3C, 0xF1}, {}},
                                    {Bytes{0x92, 0x3C, 0xF6}, {}}, {Bytes{0x92, 0x3C, 0xF7}, {}},
                                    {Bytes{0xC5, 0x10, 0x20, 0x21}, {0xC5}}, {Bytes{0xD0, 0x10, 0x11, 0x12}, {0xD0}},
                                    {Bytes{0xF0, 0x01, 0x02, 0x03}, {0xF0}}}) {
        MIDIStreamDecoder whole;
        MIDIStreamDecoder shorter;
        whole.decode(run);
        shorter.decode(same);
        EXPECT_EQ(whole, shorter) << testing::PrintToString(run);
    }
}

// Messages split across calls, running status carried over and empty calls included.
TEST(MIDIStreamDecoder, CuttingTheStreamAnywhereGivesTheSameMessages) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Bytes stream(300);
        for (auto& b : stream) {
            b = static_cast<std::uint8_t>(random());
        }
        MIDIStreamDecoder whole;
        const Messages expected = whole.decode(stream);
        MIDIStreamDecoder pieces;
        Messages got;
        for (std::size_t at = 0, length = 0; at < stream.size(); at += length) {
            length = std::min<std::size_t>(stream.size() - at, random() % 5);
            pieces.decode(std::span(stream).subspan(at, length), got);
        }
        ASSERT_EQ(got, expected) << "round " << round;
        ASSERT_EQ(pieces, whole);
    }
}

// Each row is one session fed in order; a gesture is the return of the message that ended it.
TEST(CaptureSession, GestureEndsWhenTheLastHeldKeyIsReleased) {
    struct Row {
        const char* what;
        std::vector<std::pair<MIDIMessage, std::uint32_t>> input;
        std::vector<Notes> gestures;
        Notes held, captured;
    };
    const auto allOff = MIDIMessage::allNotesOff(9);
    const Row rows[] = {
        {"last release ends it",
         {{on(60, 0), 0}, {on(64, 0), 0}, {off(60, 0), 0}, {on(67, 0), 0}, {off(64, 0), 0}, {off(67, 0), 0}},
         {{60, 64, 67}}, {}, {}},
        {"ascending, each note once",
         {{on(62, 0), 0}, {on(60, 0), 0}, {off(62, 0), 0}, {off(60, 0), 0}, {on(60, 0), 0}, {on(60, 0), 0}, {off(60, 0), 0}},
         {{60, 62}, {60}}, {}, {}},
        {"same note on two channels is two keys", {{on(60, 0), 1}, {on(60, 1), 1}, {off(60, 0), 1}}, {}, {60}, {60}},
        {"same note from two sources is two keys", {{on(60, 0), 1}, {on(60, 0), 2}, {off(60, 0), 1}, {off(60, 0), 2}},
         {{60}}, {}, {}},
        {"a release of a key never pressed is ignored",
         {{off(61, 0), 0}, {on(60, 0), 1}, {off(60, 1), 1}, {off(60, 0), 2}}, {}, {60}, {60}},
        {"all notes off forgets every channel", {{on(72, 0), 1}, {on(48, 3), 2}, {allOff, 5}, {off(48, 3), 2}}, {}, {}, {}},
        {"reset forgets every channel",
         {{on(72, 0), 1}, {on(48, 3), 2}, {MIDIMessage::reset(), 5}, {off(48, 3), 2}}, {}, {}, {}},
        {"held notes distinct, captured keeps released ones",
         {{on(64, 0), 1}, {on(64, 3), 1}, {on(60, 0), 2}, {on(67, 0), 1}, {off(67, 0), 1}}, {}, {60, 64}, {60, 64, 67}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CaptureSession session;
        std::vector<Notes> gestures;
        for (const auto& [message, source] : row.input) {
            if (auto gesture = session.receive(message, source)) {
                gestures.push_back(std::move(*gesture));
            }
        }
        EXPECT_EQ(gestures, row.gestures);
        EXPECT_EQ(session.heldNotes(), row.held);
        EXPECT_EQ(session.capturedNotes(), row.captured);
    }
}

} // namespace
} // namespace quenlitor
