#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/alsa/ALSASourceIdentity.hpp"

#include "MIDIInputService.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <set>

namespace quenlitor::platform::alsa {
namespace {

// The users' disabled inputs are stored under these numbers: they must never change between builds.
TEST(ALSASourceIdentity, UniqueIDsArePinned) {
    struct Row {
        SourcePortNames names;
        std::size_t rank;
        std::int32_t id;
    };
    const Row rows[] = {
        {{"Keystation 49", "Keystation 49 MIDI 1"}, 0, -747585931},
        {{"Keystation 49", "Keystation 49 MIDI 1"}, 1, 511411468},
        {{"Keystation 49", "Keystation 49 MIDI 1"}, 2, 561744325},
        {{"Midi Through", "Midi Through Port-0"}, 0, -1202902755},
        {{"Teclado ñandú", "Entrada 1"}, 0, -536940061},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names.clientName + " / " + row.names.portName + " #" + std::to_string(row.rank));
        EXPECT_EQ(sourceUniqueID(row.names, row.rank), row.id);
    }
}

TEST(ALSASourceIdentity, NamesAreKeptApartWhereTheirBytesRunTogether) {
    const std::set<std::int32_t> ids{
        sourceUniqueID({"ab", "c"}, 0),
        sourceUniqueID({"a", "bc"}, 0),
        sourceUniqueID({"abc", ""}, 0),
        // A rank is not a port name that happens to end in digits.
        sourceUniqueID({"a", "b"}, 1),
        sourceUniqueID({"a", "b1"}, 0),
    };
    EXPECT_EQ(ids.size(), 5u);
}

TEST(ALSASourceIdentity, IdenticalPortsAreRankedInOrderAndOthersKeepTheirIDs) {
    const SourcePortNames keyboard{"Keystation 49", "Keystation 49 MIDI 1"};
    const SourcePortNames through{"Midi Through", "Midi Through Port-0"};
    const SourcePortNames sameClientOtherPort{"Keystation 49", "Keystation 49 MIDI 2"};
    const std::vector<SourcePortNames> ports{keyboard, through, keyboard, sameClientOtherPort, keyboard};
    EXPECT_EQ(sourceUniqueIDs(ports), (std::vector<std::int32_t>{
                                          sourceUniqueID(keyboard, 0),
                                          sourceUniqueID(through, 0),
                                          sourceUniqueID(keyboard, 1),
                                          sourceUniqueID(sameClientOtherPort, 0),
                                          sourceUniqueID(keyboard, 2),
                                      }));
    // A lone device has the id it would have as the first of several.
    EXPECT_EQ(sourceUniqueIDs(std::vector<SourcePortNames>{keyboard}), std::vector<std::int32_t>{sourceUniqueID(keyboard, 0)});
}

TEST(ALSASourceIdentity, DisplayNameSaysWhoseThePortIs) {
    struct Row {
        SourcePortNames names;
        std::string shown;
    };
    const Row rows[] = {
        {{"Keystation 49", "Keystation 49 MIDI 1"}, "Keystation 49 MIDI 1"},
        {{"Midi Through", "Midi Through Port-0"}, "Midi Through Port-0"},
        {{"Teclado", "Teclado"}, "Teclado"},
        {{"VMPK Output", "out"}, "VMPK Output: out"},
        {{"Virtual Raw MIDI 1-0", "VirMIDI 1-0"}, "Virtual Raw MIDI 1-0: VirMIDI 1-0"},
        // Only a whole leading client name counts, case included.
        {{"Teclado", "teclado 2"}, "Teclado: teclado 2"},
        {{"Piano", ""}, "Piano"},
        {{"", "Entrada"}, "Entrada"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names.clientName + " / " + row.names.portName);
        EXPECT_EQ(sourceDisplayName(row.names), row.shown);
    }
}

// Without a sequencer every operation answers with an error number; nothing throws or blocks.
TEST(ALSAMIDIPlatform, OperationsWithoutAClientFailWithStatuses) {
    ALSAMIDIPlatform platform;
    MIDIHandle port = 0;
    EXPECT_EQ(platform.inputPortCreate(1, "Notas", port, {}, {}), -EINVAL);
    EXPECT_EQ(port, 0u);
    EXPECT_EQ(platform.numberOfSources(), 0u);
    EXPECT_EQ(platform.source(0), 0u);
    EXPECT_EQ(platform.displayName(1), std::nullopt);
    EXPECT_EQ(platform.uniqueID(1).status, -ENODEV);
    EXPECT_EQ(platform.portConnectSource(1, 2, 2), -EINVAL);
    EXPECT_EQ(platform.portDisconnectSource(1, 2), -EINVAL);
    platform.portDispose(1);
    platform.clientDispose(1);
    EXPECT_EQ(platform.sequencerClient(), -1);
}

TEST(ALSAMIDIPlatform, MissingSequencerIsReportedInSpanish) {
    if (::access("/dev/snd/seq", F_OK) == 0) {
        GTEST_SKIP() << "this machine has a sequencer; ALSASequencerTests covers it";
    }
    auto platform = std::make_shared<ALSAMIDIPlatform>();
    auto queue = std::make_shared<memory::MemoryMainQueue>();
    auto service = MIDIInputService::create(platform, queue, {});
    std::vector<std::string> errors;
    service->onError = [&](const std::string& text) { errors.push_back(text); };
    service->start();
    service->start();
    // snd_seq_open answers -ENOENT for the missing device node.
    EXPECT_EQ(errors, (std::vector<std::string>{"No se pudo crear el cliente MIDI (-2).",
                                                "No se pudo crear el cliente MIDI (-2)."}));
    EXPECT_TRUE(service->sources().empty());
    EXPECT_EQ(queue->size(), 0u);
}

} // namespace
} // namespace quenlitor::platform::alsa
