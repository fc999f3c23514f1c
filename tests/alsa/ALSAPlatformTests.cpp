#include "platform/alsa/ALSAMIDIPlatform.hpp"

#include "MIDIInputService.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

namespace quenlitor::platform::alsa {
namespace {

// The users' disabled inputs are stored under these numbers: they must never change between builds.
TEST(ALSASourceIdentity, UniqueIDsArePinned) {
    const SourcePortNames keyboard{"Keystation 49", "Keystation 49 MIDI 1"};
    const SourcePortNames through{"Midi Through", "Midi Through Port-0"};
    EXPECT_EQ(sourceUniqueID(keyboard, 0), -747585931);
    EXPECT_EQ(sourceUniqueID(keyboard, 1), 511411468);
    EXPECT_EQ(sourceUniqueID(keyboard, 2), 561744325);
    EXPECT_EQ(sourceUniqueID(through, 0), -1202902755);
    EXPECT_EQ(sourceUniqueID({"Teclado ñandú", "Entrada 1"}, 0), -536940061);
    // Identical ports rank in order, and the others keep their ids.
    const SourcePortNames second{"Keystation 49", "Keystation 49 MIDI 2"};
    EXPECT_EQ(sourceUniqueIDs(std::vector{keyboard, through, keyboard, second, keyboard}),
              (std::vector{sourceUniqueID(keyboard, 0), sourceUniqueID(through, 0), sourceUniqueID(keyboard, 1),
                           sourceUniqueID(second, 0), sourceUniqueID(keyboard, 2)}));
}

TEST(ALSASourceIdentity, DisplayNameSaysWhoseThePortIs) {
    const struct { SourcePortNames names; std::string shown; } rows[] = {
        {{"Teclado", "Teclado"}, "Teclado"},
        {{"VMPK Output", "out"}, "VMPK Output: out"},
        // Only a whole leading client name counts, case included.
        {{"Teclado", "teclado 2"}, "Teclado: teclado 2"},
        {{"Piano", ""}, "Piano"},
        {{"", "Entrada"}, "Entrada"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        EXPECT_EQ(sourceDisplayName(row.names), row.shown);
    }
}

// Without a sequencer the client is refused with its status, reported in Spanish, and may be asked
// for again; the binding's other operations answer with statuses, nothing throws or blocks.
TEST(ALSAMIDIPlatform, MissingSequencerIsReportedInSpanish) {
    if (::access("/dev/snd/seq", F_OK) == 0) {
        GTEST_SKIP() << "this machine has a sequencer; ALSASequencerTests covers it";
    }
    auto platform = std::make_shared<ALSAMIDIPlatform>();
    auto service = MIDIInputService::create(platform, std::make_shared<memory::MemoryMainQueue>(), {});
    std::vector<std::string> errors;
    service->onError = [&](const std::string& text) { errors.push_back(text); };
    service->start();
    service->start();
    // snd_seq_open answers -ENOENT for the missing device node.
    EXPECT_EQ(errors, std::vector<std::string>(2, "No se pudo crear el cliente MIDI (-2)."));
    MIDIHandle port = 0;
    EXPECT_EQ(platform->inputPortCreate(1, "Notas", port, {}, {}), -EINVAL);
    EXPECT_EQ(platform->uniqueID(1).status, -ENODEV);
    EXPECT_EQ(platform->portConnectSource(1, 2, 2), -EINVAL);
}

} // namespace
} // namespace quenlitor::platform::alsa
