#include "MIDIInputService.hpp"

#include "platform/memory/MemoryMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace quenlitor {
namespace {

using platform::memory::MemoryMIDIPlatform;
using Source = MemoryMIDIPlatform::Source;
using Events = std::vector<std::string>;
using Endpoints = std::set<std::uint32_t>;
using testing::ElementsAre;

Source source(std::uint32_t endpoint, std::optional<std::string> name, std::int32_t uniqueID = 0) {
    return {endpoint, std::move(name), {0, uniqueID}};
}

// A service on the memory bindings logging its callbacks to `events`; its filter rejects `rejected`.
struct Rig {
    std::shared_ptr<MemoryMIDIPlatform> platform = std::make_shared<MemoryMIDIPlatform>();
    std::shared_ptr<platform::memory::MemoryMainQueue> queue = std::make_shared<platform::memory::MemoryMainQueue>();
    Events events;
    Endpoints rejected;
    std::shared_ptr<MIDIInputService> service = MIDIInputService::create(
        platform, queue, [this](const MIDISourceInfo& info) { return !rejected.contains(info.endpoint); });

    explicit Rig(std::vector<Source> sources = {source(11, "Piano", 501), source(12, "Teclado", 502)}) {
        platform->setSources(std::move(sources));
        service->onMessage = [this](const MIDIMessage& message, std::uint32_t from) {
            events.push_back(toString(message) + " from " + std::to_string(from));
        };
        service->onChange = [this] { events.push_back("change"); };
        service->onDisconnect = [this](std::uint32_t endpoint) { events.push_back("disconnect " + std::to_string(endpoint)); };
        service->onError = [this](const std::string& text) { events.push_back(text); };
    }
    // The events once the main thread has run.
    Events take() {
        queue->runAll();
        return std::exchange(events, {});
    }
    // Delivers as the source's MIDI thread would.
    Events play(std::uint32_t endpoint, const std::vector<std::vector<std::uint8_t>>& packets) {
        platform->deliver(endpoint, packets);
        return take();
    }
};

TEST(MIDIInputService, StartOpensClientAndPortAndConnectsEverySource) {
    Rig rig({source(11, "Teclado", 501), source(12, "Piano", 502)});
    EXPECT_THAT(rig.platform->calls(), ElementsAre()) << "construction opens nothing";
    rig.service->start();
    EXPECT_EQ(rig.platform->callCount("clientCreate Quenlitor MIDI a Texto -> 0"), 1u);
    EXPECT_THAT(rig.platform->calls(), testing::Contains(testing::EndsWith(" Notas para Quenlitor Keyboard -> 0")));
    // The endpoint itself is the connection reference value.
    EXPECT_EQ(rig.platform->connections(), (std::map<std::uint32_t, std::uintptr_t>{{11, 11}, {12, 12}}));
    EXPECT_THAT(rig.service->sources(), ElementsAre(MIDISourceInfo{12, 502, "Piano"}, MIDISourceInfo{11, 501, "Teclado"}));
    rig.platform->clearCalls();
    rig.service->start();
    EXPECT_THAT(rig.platform->calls(), ElementsAre()) << "a second start creates nothing";
    EXPECT_EQ(rig.take(), Events{"change"});
}

// A sequencer that stops answering must not leave the menu reading as listening; after every
// failure the service starts again.
TEST(MIDIInputService, FailuresAreReportedAndStartCanBeRetried) {
    const std::tuple<platform::MIDIStatus, platform::MIDIStatus, platform::MIDIStatus, Events> cases[] = {
        {-50, 0, 0, {"No se pudo crear el cliente MIDI (-50)."}},
        {0, -12, 0, {"No se pudo abrir la entrada MIDI (-12)."}},
        {0, 0, -5, {"change", "No se pudo leer la entrada MIDI (-5).", "disconnect 11", "disconnect 12", "change"}},
    };
    for (const auto& [clientStatus, portStatus, readStatus, expected] : cases) {
        SCOPED_TRACE(expected.back());
        Rig rig;
        rig.platform->setClientCreateStatus(clientStatus);
        rig.platform->setPortCreateStatus(portStatus);
        rig.service->start();
        if (readStatus != 0) {
            rig.platform->failReading(readStatus);
            EXPECT_TRUE(rig.service->running()) << "the failure arrives through the main queue";
        }
        EXPECT_EQ(rig.take(), expected);
        EXPECT_EQ(rig.service->errorExplanation(), "Estado " + std::to_string(clientStatus + portStatus + readStatus) + ".");
        EXPECT_FALSE(rig.service->running());
        EXPECT_EQ(rig.platform->openClients(), 0u);
        EXPECT_EQ(rig.play(11, {{0x90, 60, 1}}), Events{});
        rig.platform->setClientCreateStatus(0);
        rig.platform->setPortCreateStatus(0);
        rig.service->start();
        EXPECT_EQ(rig.play(11, {{0x90, 60, 1}}), (Events{"change", "noteOn 60 0 from 11"}));
    }
}

// Unnamed sources are numbered by enumeration position, counted from 1, skipped ones included;
// a failed id read falls back to the endpoint's bits, whatever value came with it. Names order as
// a file browser orders them, in Spanish.
TEST(MIDIInputService, SourcesGetFallbackNamesAndIDsAndAFileBrowserOrder) {
    Rig rig({source(0, "yields no endpoint"), source(22, std::nullopt, -5), {0x80000001, "Teclado", {-50, 1234}},
             source(24, std::nullopt)});
    rig.service->start();
    EXPECT_THAT(rig.service->sources(),
                ElementsAre(MIDISourceInfo{22, -5, "Entrada MIDI 2"}, MIDISourceInfo{24, 0, "Entrada MIDI 4"},
                            MIDISourceInfo{0x80000001, -2147483647, "Teclado"}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{22, 24, 0x80000001}));

    std::vector<std::pair<std::vector<std::string>, std::vector<std::uint32_t>>> cases{
        {{"Teclado 10", "teclado 2", "Piano"}, {3, 2, 1}},
        {{"Piano", "Órgano", "piano", "Piano", "PIANO"}, {2, 1, 3, 4, 5}}, // equal but for case: as enumerated
        {{"Órgano", "Organo", "Orquesta"}, {2, 1, 3}},
        {{"Ñandú", "Oboe", "Nube", "nylon"}, {3, 4, 1, 2}}, // ñ is a letter of its own, after n
        {{}, {}}, // enough equal names that an unstable sort would reorder them: every Piano first
    };
    for (std::uint32_t endpoint = 1; endpoint <= 64; ++endpoint) {
        auto& [names, expected] = cases.back();
        names.push_back(std::array{"TECLADO", "Teclado", "Piano", "teclado"}[endpoint % 4]);
        expected.insert(endpoint % 4 == 2 ? expected.begin() + endpoint / 4 : expected.end(), endpoint);
    }
    for (const auto& [names, expected] : cases) {
        Rig sorted(std::vector<Source>{});
        for (const std::string& name : names) {
            sorted.platform->addSource(source(static_cast<std::uint32_t>(sorted.platform->numberOfSources() + 1), name));
        }
        sorted.service->start();
        std::vector<std::uint32_t> order;
        std::ranges::transform(sorted.service->sources(), std::back_inserter(order), &MIDISourceInfo::endpoint);
        EXPECT_EQ(order, expected) << testing::PrintToString(names);
    }
}

// A dropped source's decoder goes with it, and bytes still on their way are discarded without
// making a new one: either would complete, once the source is back, a message begun before.
// Unplugging and plugging are followed through notifications from the platform's threads, and a
// failed connection is tried again at the next refresh.
TEST(MIDIInputService, RefreshFollowsTheFilterAndTheSetup) {
    Rig rig({source(11, "A"), source(12, "B"), source(13, "C")});
    rig.platform->setConnectStatus(13, -4);
    rig.service->start();
    EXPECT_EQ(rig.play(11, {{0x90, 0x3C}}), (Events{"No se pudo conectar una entrada MIDI (-4).", "change"}));
    rig.platform->deliver(11, {{0x91, 0x3D}});
    rig.rejected = {11};
    rig.service->refresh();
    EXPECT_EQ(rig.take(), (Events{"disconnect 11", "No se pudo conectar una entrada MIDI (-4).", "change"}));
    EXPECT_EQ(rig.platform->connections().count(11), 0u);
    EXPECT_EQ(rig.service->sources().size(), 3u);
    rig.rejected = {};
    rig.platform->setConnectStatus(13, 0);
    rig.service->refresh();
    EXPECT_EQ(rig.play(11, {{0x64}}), Events{"change"});
    EXPECT_EQ(rig.play(11, {{0x90, 0x3C, 0x64}}), Events{"noteOn 60 0 from 11"});
    EXPECT_EQ(rig.service->connected(), (Endpoints{11, 12, 13}));

    rig.platform->removeSource(11);
    rig.platform->addSource(source(14, "D"));
    std::thread([&] { rig.platform->notifySetupChange(); }).join();
    EXPECT_EQ(rig.events, Events{}) << "the notification only posts";
    EXPECT_EQ(rig.take(), (Events{"disconnect 11", "change"}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{12, 13, 14}));
}

TEST(MIDIInputService, BytesAreDecodedPerSourceAcrossPacketLists) {
    Rig rig;
    rig.service->start();
    rig.platform->deliver(11, {{}, {0x91}, {0x3C}});
    rig.platform->deliver(12, {{0x40}, {0x92, 0x30, 0x10}});
    rig.platform->deliver(11, {{0x64}, {0x3E, 0x10}});
    rig.platform->deliver(11, {});
    rig.platform->deliver(12, {{0x30}, {0x00}});
    EXPECT_EQ(rig.events, Events{"change"}) << "decoding waits for the main thread";
    EXPECT_EQ(rig.take(), (Events{"change", "noteOn 48 2 from 12", "noteOn 60 1 from 11", "noteOn 62 1 from 11",
                                  "noteOff 48 2 from 12"}));
}

// A platform thread may still be inside a callback when the service stops or goes.
TEST(MIDIInputService, StopOrReleaseClosesEverythingAndSilencesLateCallbacks) {
    Rig rig;
    rig.service->start();
    const std::vector<MIDISourceInfo> listed = rig.service->sources();
    rig.platform->deliver(11, {{0x90, 0x3C, 0x64}});
    rig.platform->clearCalls();
    rig.service->stop();
    EXPECT_THAT(rig.platform->calls(), ElementsAre("portDisconnectSource 4097 11", "portDisconnectSource 4097 12",
                                                   "portDispose 4097", "clientDispose 4096"));
    EXPECT_TRUE(rig.service->connected().empty());
    EXPECT_EQ(rig.service->sources(), listed);
    rig.service->stop();
    rig.service->refresh();
    EXPECT_EQ(rig.platform->calls().size(), 4u) << "a second stop, and a refresh while stopped, do nothing";
    EXPECT_EQ(rig.take(), Events{"change"}) << "no callback, and nothing delivered after stop";
    rig.service->start();
    EXPECT_EQ(rig.play(12, {{0x90, 0x3C, 0x64}}), (Events{"change", "noteOn 60 0 from 12"}));

    rig.platform->deliver(11, {{0x90, 0x3C, 0x64}});
    rig.platform->notifySetupChange();
    const auto onRead = rig.platform->lastReadCallback();
    const auto onSetupChange = rig.platform->lastSetupCallback();
    rig.service.reset();
    EXPECT_EQ(rig.platform->openClients() + rig.platform->openPorts() + rig.platform->connections().size(), 0u);
    rig.platform->clearCalls();
    std::thread([&] {
        const std::vector<std::uint8_t> bytes{0x90, 0x3E, 0x64};
        const platform::MIDIPacket packets[] = {bytes};
        onRead(packets, 11);
        onSetupChange();
    }).join();
    EXPECT_EQ(rig.queue->runAll(), 4u);
    EXPECT_EQ(rig.take(), Events{});
    EXPECT_THAT(rig.platform->calls(), ElementsAre());
}

TEST(MIDIInputService, CallbacksMayBeUnsetOrStopReplaceOrReleaseTheService) {
    Rig rig({source(11, "A"), source(12, "B"), source(13, "C")});
    rig.service = MIDIInputService::create(rig.platform, rig.queue, nullptr); // accepts every source
    rig.platform->setConnectStatus(12, -1);
    rig.service->start();
    rig.platform->setSources({source(11, "A")});
    rig.service->refresh();
    EXPECT_EQ(rig.play(11, {{0x90, 0x3C}}), Events{}) << "unset callbacks are skipped, decoding goes on";

    // onMessage replaces itself, then stops the service: still running after its own
    // replacement, its captures must still be there; the replacement takes the next batch.
    rig.service->onMessage = [&rig, tag = std::string("first")](const MIDIMessage& message, std::uint32_t) {
        rig.service->onMessage = [&rig](const MIDIMessage& next, std::uint32_t) {
            rig.events.push_back("then " + toString(next));
            rig.service->stop();
        };
        rig.events.push_back(tag + " " + toString(message));
    };
    EXPECT_EQ(rig.play(11, {{0x64, 0x3E, 0x64}}), (Events{"first noteOn 60 0", "first noteOn 62 0"}));
    EXPECT_EQ(rig.play(11, {{0x40, 0x64, 0x41, 0x64}}), (Events{"then noteOn 64 0"}));

    // onDisconnect stops the service: nothing is connected to a closed port.
    rig.platform->setSources({source(11, "A"), source(12, "B"), source(13, "C")});
    rig.service->start();
    rig.service->sourceFilter = [](const MIDISourceInfo& info) { return info.endpoint > 12; };
    rig.service->onDisconnect = [&](std::uint32_t endpoint) {
        rig.events.push_back("disconnect " + std::to_string(endpoint));
        rig.service->stop();
    };
    rig.platform->addSource(source(14, "D"));
    rig.platform->clearCalls();
    rig.service->refresh();
    EXPECT_EQ(rig.take(), Events{"disconnect 11"});
    EXPECT_EQ(rig.platform->callCount("portConnectSource") + rig.platform->openClients(), 0u);

    // The owner lets go of the service in onError.
    rig.platform->setPortCreateStatus(-1);
    rig.service->onError = [&](const std::string&) { rig.service.reset(); };
    rig.service->start();
    EXPECT_EQ(rig.service, nullptr);
    EXPECT_EQ(rig.platform->openClients(), 0u);
}

} // namespace
} // namespace quenlitor
