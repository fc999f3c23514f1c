// The controller driven as the application drives it, with the in-memory clipboard.
#include "CaptureController.hpp"
#include "ChordRecognizer.hpp"
#include "platform/memory/MemoryClipboard.hpp"

#include <gtest/gtest.h>

namespace quenlitor {
namespace {

using platform::memory::MemoryClipboard;

// A small dictionary: major and minor triads, and a major seventh written with the chart symbol
// the clipboard text must not carry.
constexpr std::string_view dictionary = R"({"chords": [
    {"nombre": "", "obligatorias": [0, 4, 7]},
    {"nombre": "m", "obligatorias": [0, 3, 7]},
    {"nombre": "Δ", "obligatorias": [0, 4, 7, 11]}
]})";

class CaptureControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryClipboard> clipboard = std::make_shared<MemoryClipboard>();
    std::shared_ptr<CaptureController> controller = std::make_shared<CaptureController>(
        TokenGenerator(ChordRecognizer::create(dictionary)), clipboard);
    int changes = 0;

    void SetUp() override {
        controller->onChange = [this] { ++changes; };
        clipboard->onLateWrite = [weak = std::weak_ptr(controller)](std::string_view text) {
            if (const auto target = weak.lock()) {
                target->copiedLate(text);
            }
        };
    }

    void press(std::ptrdiff_t note, std::uint32_t source = 1) { controller->receive(MIDIMessage::noteOn(note, 0), source); }
    void release(std::ptrdiff_t note, std::uint32_t source = 1) { controller->receive(MIDIMessage::noteOff(note, 0), source); }
    void play(std::initializer_list<std::ptrdiff_t> notes) {
        for (const auto note : notes) {
            press(note);
        }
        for (const auto note : notes) {
            release(note);
        }
    }
    std::vector<std::string> historyTexts() const {
        std::vector<std::string> texts;
        for (const auto& token : controller->history()) {
            texts.push_back(token.text);
        }
        return texts;
    }
};

TEST_F(CaptureControllerTest, LiveStatusFollowsTheKeysAndTheReleaseCopies) {
    EXPECT_EQ(controller->status(), "Toca una nota o un acorde.");
    press(60);
    EXPECT_EQ(controller->status(), "Tocando: C4");
    press(64);
    press(67);
    EXPECT_EQ(controller->status(), "Tocando: C4 · E4 · G4");
    release(60);
    EXPECT_EQ(controller->status(), "Tocando: E4 · G4");
    release(64);
    EXPECT_EQ(changes, 5);
    release(67);
    EXPECT_EQ(changes, 6) << "a completed gesture notifies once";
    EXPECT_EQ(controller->status(), "Copiado: C");
    EXPECT_EQ(clipboard->text(), "\"C\" C4 E G .");
    ASSERT_EQ(controller->history().size(), 1u);
    EXPECT_EQ(controller->history().front().notes, (std::vector<std::ptrdiff_t>{60, 64, 67}));
}

TEST_F(CaptureControllerTest, ClipboardAndStatusGetTheNormalisedTitleWhileHistoryKeepsTheToken) {
    play({60, 64, 67, 71});
    EXPECT_EQ(clipboard->text(), "\"Cmaj7\" C4 E G B .");
    EXPECT_EQ(controller->status(), "Copiado: Cmaj7");
    EXPECT_EQ(controller->history().front().text, "\"Cmaj7\" C4 E G B .");

    const int before = changes;
    controller->setIncludeTitle(false);
    EXPECT_EQ(changes, before) << "the title switch notifies nothing";
    play({57, 60, 64});
    EXPECT_EQ(clipboard->text(), "A3 C E .");
    EXPECT_EQ(controller->status(), "Copiado: Am") << "the status names the chord even without a title";
    play({61, 63, 66});
    EXPECT_EQ(controller->status(), "Copiado: 3 notas · sin cifrado reconocido");
}

TEST_F(CaptureControllerTest, HistoryKeepsTenDistinctNeighboursAndCopiesOldOnes) {
    play({60});
    play({60});
    EXPECT_EQ(historyTexts(), std::vector<std::string>{"\"C4\" C4 ."});
    EXPECT_EQ(clipboard->writeCount(), 2) << "a repeated gesture is still copied";

    play({62});
    play({60});
    EXPECT_EQ(historyTexts(), (std::vector<std::string>{"\"C4\" C4 .", "\"D4\" D4 .", "\"C4\" C4 ."}));

    for (std::ptrdiff_t note = 70; note < 80; ++note) {
        play({note});
    }
    ASSERT_EQ(controller->history().size(), 10u);
    EXPECT_EQ(controller->history().front().notes, std::vector<std::ptrdiff_t>{79});
    EXPECT_EQ(controller->history().back().notes, std::vector<std::ptrdiff_t>{70});

    // Copying an old entry again changes nothing but the clipboard and the status.
    const auto before = controller->history();
    controller->copy(before.back());
    EXPECT_EQ(clipboard->text(), "\"Bb4\" Bb4 .");
    EXPECT_EQ(controller->status(), "Copiado: Bb4");
    EXPECT_EQ(controller->history(), before);
}

TEST_F(CaptureControllerTest, FailuresLeaveClipboardAndHistoryAlone) {
    play({60});
    const auto before = controller->history();
    changes = 0;

    play({60, 110});
    EXPECT_EQ(controller->status(), "La fuente admite de A0 a C8. El token no se copió.");
    EXPECT_EQ(changes, 4) << "a failed generation notifies once";
    EXPECT_EQ(controller->history(), before);
    EXPECT_EQ(clipboard->text(), "\"C4\" C4 .");

    clipboard->refusesWrites = true;
    play({62});
    EXPECT_EQ(controller->status(), "No se pudo copiar al portapapeles.");
    EXPECT_EQ(controller->history().front().text, "\"D4\" D4 .") << "kept so it can be copied again";

    // "Copiar último token" once the desktop takes the text again.
    clipboard->refusesWrites = false;
    controller->copy(controller->history().front());
    EXPECT_EQ(controller->status(), "Copiado: D4");
    EXPECT_EQ(clipboard->text(), "\"D4\" D4 .");

    // A desktop that answers too late takes a refused copy after all; one refused before a
    // confirmed copy never can.
    clipboard->refusesWrites = true;
    play({64});
    changes = 0;
    clipboard->writeLate("\"D4\" D4 .");
    EXPECT_EQ(controller->status(), "No se pudo copiar al portapapeles.");
    clipboard->writeLate("\"E4\" E4 .");
    EXPECT_EQ(controller->status(), "Copiado: E4");
    EXPECT_EQ(changes, 1);
}

TEST_F(CaptureControllerTest, PauseDropsMessagesWithoutNotifying) {
    press(60);
    controller->setPaused(true);
    controller->setPaused(true);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(controller->status(), "Captura en pausa");
    EXPECT_TRUE(controller->session().heldNotes().empty());

    play({64, 67});
    controller->receive(MIDIMessage::reset(), 1);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(controller->status(), "Captura en pausa");
    EXPECT_FALSE(clipboard->text());

    controller->setPaused(false);
    EXPECT_EQ(controller->status(), "Toca una nota o un acorde.");
    release(60); // pressed before the pause: forgotten, ends nothing
    EXPECT_TRUE(controller->history().empty());
}

TEST_F(CaptureControllerTest, CancelsAndResetsEmptyTheSession) {
    press(60);
    controller->receive(MIDIMessage::reset(), 1);
    EXPECT_EQ(controller->status(), "Captura reiniciada.");
    EXPECT_TRUE(controller->session().capturedNotes().empty());

    // All notes off in the middle of a gesture must not leave the held keys on display.
    press(60);
    controller->receive(MIDIMessage::allNotesOff(3), 2);
    EXPECT_EQ(controller->status(), "Captura reiniciada.");
    // With nothing underway the last copy stays on display.
    play({62});
    controller->receive(MIDIMessage::allNotesOff(0), 1);
    EXPECT_EQ(controller->status(), "Copiado: D4");

    press(64);
    const int before = changes;
    controller->reset("Entrada desconectada; captura reiniciada.");
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(controller->status(), "Entrada desconectada; captura reiniciada.");
    EXPECT_TRUE(controller->session().heldNotes().empty());
    EXPECT_EQ(controller->history().size(), 1u);
}

// A key counts as held while it is down on any channel of any source; the line is rebuilt only
// when a note starts or stops being held, and read only now and then, as a closed menu would.
TEST_F(CaptureControllerTest, StatusFollowsKeysHeldOnSeveralChannels) {
    for (std::ptrdiff_t channel = 0; channel < 16; ++channel) {
        controller->receive(MIDIMessage::noteOn(64, channel), 1);
        controller->receive(MIDIMessage::noteOn(60, channel), 1);
    }
    EXPECT_EQ(controller->status(), "Tocando: C4 · E4");
    for (std::ptrdiff_t channel = 0; channel < 15; ++channel) {
        controller->receive(MIDIMessage::noteOff(60, channel), 1);
    }
    EXPECT_EQ(controller->status(), "Tocando: C4 · E4") << "C4 is still down on channel 15";
    controller->receive(MIDIMessage::noteOff(60, 15), 1);
    controller->receive(MIDIMessage::noteOff(60, 15), 1);
    EXPECT_EQ(controller->status(), "Tocando: E4");
    controller->receive(MIDIMessage::noteOn(60, 3), 2);
    controller->receive(MIDIMessage::noteOn(0, 3), 2);
    EXPECT_EQ(controller->status(), "Tocando: C-1 · C4 · E4");
    controller->receive(MIDIMessage::allNotesOff(0), 1);
    EXPECT_EQ(controller->status(), "Captura reiniciada.");
    press(62);
    EXPECT_EQ(controller->status(), "Tocando: D4");
    EXPECT_EQ(changes, 32 + 15 + 2 + 2 + 1 + 1);
}

} // namespace
} // namespace quenlitor
