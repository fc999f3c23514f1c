// The controller driven as the application drives it, with the in-memory clipboard.
#include "CaptureController.hpp"
#include "ChordRecognizer.hpp"
#include "platform/memory/MemoryClipboard.hpp"

#include <gtest/gtest.h>

namespace quenlitor {
namespace {

using Notes = std::vector<std::ptrdiff_t>;

class CaptureControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<platform::memory::MemoryClipboard> clipboard = std::make_shared<platform::memory::MemoryClipboard>();
    // The major seventh is written with the chart symbol the clipboard text must not carry.
    std::shared_ptr<CaptureController> controller = std::make_shared<CaptureController>(
        TokenGenerator(ChordRecognizer::create(R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]},
            {"nombre": "m", "obligatorias": [0, 3, 7]}, {"nombre": "Δ", "obligatorias": [0, 4, 7, 11]}]})")),
        clipboard);
    int changes = 0;

    void SetUp() override {
        controller->onChange = [this] { ++changes; };
        clipboard->onLateWrite = [weak = std::weak_ptr(controller)](std::string_view text) {
            if (const auto target = weak.lock()) {
                target->copiedLate(text);
            }
        };
    }

    void press(std::ptrdiff_t note) { controller->receive(MIDIMessage::noteOn(note, 0), 1); }
    void release(std::ptrdiff_t note) { controller->receive(MIDIMessage::noteOff(note, 0), 1); }
    void play(const Notes& notes) {
        for (const auto note : notes) {
            press(note);
        }
        for (const auto note : notes) {
            release(note);
        }
    }
};

TEST_F(CaptureControllerTest, LiveStatusFollowsTheKeysAndTheReleaseCopies) {
    press(64);
    press(60);
    press(67);
    EXPECT_EQ(controller->status(), "Tocando: C4 · E4 · G4");
    release(60);
    EXPECT_EQ(controller->status(), "Tocando: E4 · G4");
    release(64);
    release(67);
    EXPECT_EQ(changes, 6) << "a completed gesture notifies once";
    EXPECT_EQ(controller->status(), "Copiado: C");
    EXPECT_EQ(clipboard->text(), "\"C\" C4 E G .");

    play({60, 64, 67, 71});
    EXPECT_EQ(clipboard->text(), "\"Cmaj7\" C4 E G B .");
    EXPECT_EQ(controller->status(), "Copiado: Cmaj7");
    controller->setIncludeTitle(false);
    EXPECT_EQ(changes, 14) << "the title switch notifies nothing";
    play({57, 60, 64});
    EXPECT_EQ(clipboard->text(), "A3 C E .");
    EXPECT_EQ(controller->status(), "Copiado: Am") << "the status names the chord even without a title";
    play({61, 63, 66});
    EXPECT_EQ(controller->status(), "Copiado: 3 notas · sin cifrado reconocido");
}

TEST_F(CaptureControllerTest, HistoryKeepsTenDistinctNeighboursAndCopiesOldOnes) {
    for (const Notes& notes : {Notes{60}, Notes{60}, Notes{62}, Notes{60}}) {
        play(notes);
    }
    EXPECT_EQ(controller->history().size(), 3u) << "the same gesture further back is kept";
    EXPECT_EQ(clipboard->writeCount(), 4) << "a repeated gesture is still copied";
    for (std::ptrdiff_t note = 70; note < 80; ++note) {
        play({note});
    }
    ASSERT_EQ(controller->history().size(), 10u);
    EXPECT_EQ(controller->history().back().notes, Notes{70});

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

    clipboard->refusesWrites = true;
    play({62});
    EXPECT_EQ(controller->status(), "No se pudo copiar al portapapeles.");
    EXPECT_EQ(controller->history().front().text, "\"D4\" D4 .") << "kept so it can be copied again";
    clipboard->refusesWrites = false;
    controller->copy(controller->history().front());
    EXPECT_EQ(controller->status(), "Copiado: D4");

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

// Pausing, a reset from the keyboard, an all notes off mid-gesture and a disconnection each forget
// the keys held; while paused nothing is received and nothing notifies.
TEST_F(CaptureControllerTest, PauseAndCancelsEmptyTheSession) {
    press(60);
    controller->setPaused(true);
    controller->setPaused(true);
    play({64, 67});
    controller->receive(MIDIMessage::reset(), 1);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(controller->status(), "Captura en pausa");
    controller->setPaused(false);
    EXPECT_EQ(controller->status(), "Toca una nota o un acorde.");
    release(60); // pressed before the pause: forgotten, ends nothing
    EXPECT_TRUE(controller->history().empty());

    for (const auto& cancel : {MIDIMessage::reset(), MIDIMessage::allNotesOff(3)}) {
        press(60);
        controller->receive(cancel, 2);
        EXPECT_EQ(controller->status(), "Captura reiniciada.");
    }
    play({62});
    controller->receive(MIDIMessage::allNotesOff(0), 1);
    EXPECT_EQ(controller->status(), "Copiado: D4") << "with nothing underway the last copy stays";
    press(64);
    changes = 0;
    controller->reset("Entrada desconectada; captura reiniciada.");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(controller->status(), "Entrada desconectada; captura reiniciada.");
    release(64);
    EXPECT_EQ(controller->history().size(), 1u);
}

} // namespace
} // namespace quenlitor
