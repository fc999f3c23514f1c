#include "MIDIInputService.hpp"

#include "platform/memory/MemoryMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <thread>

namespace quenlitor {
namespace {

using platform::memory::MemoryMainQueue;
using platform::memory::MemoryMIDIPlatform;
using Source = MemoryMIDIPlatform::Source;
using Packets = std::vector<std::vector<std::uint8_t>>;
using Events = std::vector<std::string>;
using Endpoints = std::set<std::uint32_t>;
using testing::ElementsAre;

Source source(std::uint32_t endpoint, std::optional<std::string> name, std::int32_t uniqueID = 0) {
    return {endpoint, std::move(name), {0, uniqueID}};
}

// A service on the memory bindings whose callbacks write into `events`; its filter rejects the
// endpoints in `rejected`.
struct Rig {
    std::shared_ptr<MemoryMIDIPlatform> platform = std::make_shared<MemoryMIDIPlatform>();
    std::shared_ptr<MemoryMainQueue> queue = std::make_shared<MemoryMainQueue>();
    Events events;
    Endpoints rejected;
    int filterCalls = 0;
    std::shared_ptr<MIDIInputService> service;

    explicit Rig(std::vector<Source> sources = {source(11, "Piano", 501), source(12, "Teclado", 502)}) {
        platform->setSources(std::move(sources));
        service = MIDIInputService::create(platform, queue, [this](const MIDISourceInfo& info) {
            ++filterCalls;
            return !rejected.contains(info.endpoint);
        });
        service->onMessage = [this](const MIDIMessage& message, std::uint32_t from) {
            events.push_back(toString(message) + " from " + std::to_string(from));
        };
        service->onChange = [this] { events.push_back("change"); };
        service->onDisconnect = [this](std::uint32_t endpoint) { events.push_back("disconnect " + std::to_string(endpoint)); };
        service->onError = [this](const std::string& text) { events.push_back(text); };
    }

    // The events since the last call.
    Events take() { return std::exchange(events, {}); }
    // Starts the service and forgets the events of starting.
    void start() {
        service->start();
        take();
    }
    // Delivers from the source as its MIDI thread would, then lets the main thread run.
    Events play(std::uint32_t endpoint, const Packets& packets) {
        platform->deliver(endpoint, packets);
        queue->runAll();
        return take();
    }
};

TEST(MIDIInputService, StartOpensClientAndPortAndConnectsEverySource) {
    Rig rig({source(11, "Teclado", 501), source(12, "Piano", 502)});
    EXPECT_THAT(rig.platform->calls(), ElementsAre()) << "construction opens nothing";
    rig.service->start();
    EXPECT_EQ(rig.platform->callCount("clientCreate Quenlitor MIDI a Texto -> 0"), 1u);
    EXPECT_THAT(rig.platform->calls(), testing::Contains(testing::EndsWith(" Notas para Quenlitor Keyboard -> 0")));
    EXPECT_EQ(rig.platform->openPorts(), 1u);
    // The endpoint itself is the connection reference value.
    EXPECT_EQ(rig.platform->connections(), (std::map<std::uint32_t, std::uintptr_t>{{11, 11}, {12, 12}}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{11, 12}));
    EXPECT_THAT(rig.service->sources(), ElementsAre(MIDISourceInfo{12, 502, "Piano"}, MIDISourceInfo{11, 501, "Teclado"}));
    EXPECT_EQ(rig.take(), Events{"change"});

    rig.platform->clearCalls();
    rig.service->start();
    EXPECT_THAT(rig.platform->calls(), ElementsAre()) << "a second start creates nothing";
    EXPECT_EQ(rig.take(), Events{});
}

TEST(MIDIInputService, CreationFailuresAreReportedAndStartCanBeRetried) {
    struct Case {
        const char* what;
        platform::MIDIStatus clientStatus;
        platform::MIDIStatus portStatus;
        const char* text;
        std::size_t portCreations;
        std::size_t clientDisposals;
    };
    const Case cases[] = {
        {"client", -50, 0, "No se pudo crear el cliente MIDI (-50).", 0, 0},
        {"port", 0, -12, "No se pudo abrir la entrada MIDI (-12).", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.platform->setClientCreateStatus(c.clientStatus);
        rig.platform->setPortCreateStatus(c.portStatus);
        rig.service->start();
        EXPECT_EQ(rig.take(), Events{c.text});
        EXPECT_EQ(rig.platform->callCount("inputPortCreate"), c.portCreations);
        EXPECT_EQ(rig.platform->callCount("clientDispose"), c.clientDisposals);
        EXPECT_EQ(rig.platform->openClients(), 0u);
        EXPECT_EQ(rig.platform->callCount("numberOfSources"), 0u);
        EXPECT_TRUE(rig.service->connected().empty());

        rig.platform->setClientCreateStatus(0);
        rig.platform->setPortCreateStatus(0);
        rig.service->start();
        EXPECT_EQ(rig.take(), Events{"change"});
        EXPECT_EQ(rig.service->connected(), (Endpoints{11, 12}));
    }
}

// A sequencer that stops answering must not leave the menu reading as listening.
TEST(MIDIInputService, ReadingFailureStopsTheServiceUntilStartedAgain) {
    Rig rig;
    rig.start();
    rig.platform->failReading(-5);
    EXPECT_TRUE(rig.service->running()) << "the failure arrives through the main queue";
    rig.queue->runAll();
    EXPECT_EQ(rig.take(), (Events{"No se pudo leer la entrada MIDI (-5).", "disconnect 11", "disconnect 12", "change"}));
    EXPECT_EQ(rig.service->errorExplanation(), "Estado -5.");
    EXPECT_FALSE(rig.service->running());
    EXPECT_TRUE(rig.service->connected().empty());
    EXPECT_EQ(rig.platform->openClients(), 0u);
    EXPECT_EQ(rig.play(11, {{0x90, 60, 1}}), Events{});

    rig.service->start();
    EXPECT_EQ(rig.take(), Events{"change"});
    EXPECT_EQ(rig.play(11, {{0x90, 60, 1}}), Events{"noteOn 60 0 from 11"});
}

TEST(MIDIInputService, SourcesGetFallbackNamesAndIDs) {
    Rig rig({
        source(0, "yields no endpoint"),
        source(22, std::nullopt, -5),
        {0x80000001, "Teclado", {-50, 1234}},
        source(24, std::nullopt),
    });
    rig.service->start();
    // Unnamed sources are numbered by enumeration position, counted from 1, skipped ones
    // included; a failed id read falls back to the endpoint's bits, whatever value came with it.
    EXPECT_THAT(rig.service->sources(),
                ElementsAre(MIDISourceInfo{22, -5, "Entrada MIDI 2"}, MIDISourceInfo{24, 0, "Entrada MIDI 4"},
                            MIDISourceInfo{0x80000001, -2147483647, "Teclado"}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{22, 24, 0x80000001}));
    EXPECT_EQ(rig.platform->callCount("displayName 0") + rig.platform->callCount("portConnectSource 4097 0"), 0u);
}

TEST(MIDIInputService, SourcesAreOrderedAsAFileBrowserOrdersThem) {
    struct Case {
        std::vector<std::string> names; // in enumeration order; endpoint = position + 1
        std::vector<std::uint32_t> expected;
    };
    std::vector<Case> cases{
        {{"Teclado 10", "teclado 2", "Piano"}, {3, 2, 1}},
        {{"Entrada MIDI 10", "Entrada MIDI 9", "Entrada MIDI 1"}, {3, 2, 1}},
        // Names equal but for case keep their enumeration order.
        {{"Piano", "Órgano", "piano", "Piano", "PIANO"}, {2, 1, 3, 4, 5}},
        {{"Órgano", "Organo", "Orquesta"}, {2, 1, 3}},
        // Spanish: ñ is a letter of its own, after n.
        {{"Ñandú", "Oboe", "Nube", "nylon"}, {3, 4, 1, 2}},
    };
    // Enough equal names that an unstable sort would reorder them: every Piano, then the rest.
    Case many;
    for (std::uint32_t endpoint = 1; endpoint <= 64; ++endpoint) {
        many.names.push_back(std::array{"TECLADO", "Teclado", "Piano", "teclado"}[endpoint % 4]);
        many.expected.insert(endpoint % 4 == 2 ? many.expected.begin() + endpoint / 4 : many.expected.end(), endpoint);
    }
    cases.push_back(many);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        std::vector<Source> sources;
        for (const std::string& name : c.names) {
            sources.push_back(source(static_cast<std::uint32_t>(sources.size() + 1), name));
        }
        Rig rig(sources);
        rig.service->start();
        std::vector<std::uint32_t> order;
        std::ranges::transform(rig.service->sources(), std::back_inserter(order), &MIDISourceInfo::endpoint);
        EXPECT_EQ(order, c.expected);
    }
}

// A dropped source's decoder goes with it, and bytes still on their way are discarded without
// making a new one: either would complete, once the source is back, a message begun before.
TEST(MIDIInputService, RejectedSourceIsDisconnectedAndLaterDecodedFromScratch) {
    Rig rig;
    rig.start();
    EXPECT_EQ(rig.play(11, {{0x90, 0x3C}}), Events{});
    rig.platform->deliver(11, {{0x91, 0x3D}});

    rig.rejected = {11};
    rig.filterCalls = 0;
    rig.service->refresh();
    EXPECT_EQ(rig.filterCalls, 2) << "once per source";
    EXPECT_EQ(rig.take(), (Events{"disconnect 11", "change"}));
    rig.queue->runAll();
    EXPECT_EQ(rig.service->connected(), Endpoints{12});
    EXPECT_EQ(rig.platform->connections().count(11), 0u);
    EXPECT_EQ(rig.service->sources().size(), 2u);

    rig.rejected = {};
    rig.service->refresh();
    EXPECT_EQ(rig.take(), Events{"change"});
    EXPECT_EQ(rig.service->connected(), (Endpoints{11, 12}));
    EXPECT_EQ(rig.play(11, {{0x64}}), Events{});
    EXPECT_EQ(rig.play(11, {{0x90, 0x3C, 0x64}}), Events{"noteOn 60 0 from 11"});
}

TEST(MIDIInputService, UnpluggingAndPluggingAreFollowedThroughNotifications) {
    Rig rig;
    rig.start();

    rig.platform->removeSource(11);
    std::thread([&] { rig.platform->notifySetupChange(); }).join();
    EXPECT_EQ(rig.take(), Events{}) << "the notification only posts";
    EXPECT_EQ(rig.queue->size(), 1u);
    rig.queue->runAll();
    EXPECT_EQ(rig.take(), (Events{"disconnect 11", "change"}));
    EXPECT_THAT(rig.service->sources(), ElementsAre(MIDISourceInfo{12, 502, "Teclado"}));
    EXPECT_EQ(rig.service->connected(), Endpoints{12});

    rig.platform->addSource(source(13, "Pads", 503));
    rig.platform->notifySetupChange();
    rig.platform->notifySetupChange();
    rig.queue->runAll();
    EXPECT_EQ(rig.take(), (Events{"change", "change"}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{12, 13}));
}

TEST(MIDIInputService, FailedConnectionsAreReportedAndRetriedNextRefresh) {
    Rig rig({source(11, "A"), source(12, "B"), source(13, "C")});
    rig.platform->setConnectStatus(11, -50);
    rig.platform->setConnectStatus(13, -4);
    rig.service->start();
    const Events events = rig.take();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_THAT(std::vector(events.begin(), events.end() - 1),
                testing::UnorderedElementsAre("No se pudo conectar una entrada MIDI (-50).",
                                              "No se pudo conectar una entrada MIDI (-4)."));
    EXPECT_EQ(events.back(), "change");
    EXPECT_EQ(rig.service->connected(), Endpoints{12});

    rig.platform->setConnectStatus(11, 0);
    rig.service->refresh();
    EXPECT_EQ(rig.take(), (Events{"No se pudo conectar una entrada MIDI (-4).", "change"}));
    EXPECT_EQ(rig.service->connected(), (Endpoints{11, 12}));
}

TEST(MIDIInputService, BytesAreDecodedPerSourceAcrossPacketLists) {
    struct Step {
        std::uint32_t from;
        Packets packets;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        Events expected;
    };
    const Case cases[] = {
        {"status in one list, data in the next", {{11, {{0x90}}}, {11, {{0x3C, 0x64}}}}, {"noteOn 60 0 from 11"}},
        {"one message over three packets", {{11, {{0x90}, {0x3C}, {0x64}}}}, {"noteOn 60 0 from 11"}},
        {"empty packets", {{11, {{}, {0x80, 0x3C, 0x00}, {}}}, {11, {}}}, {"noteOff 60 0 from 11"}},
        {"another source's bytes do not complete a message",
         {{11, {{0x91, 0x3C}}}, {12, {{0x40}}}, {11, {{0x64}}}},
         {"noteOn 60 1 from 11"}},
        {"running status is per source",
         {{11, {{0x91, 0x3C, 0x64}}}, {12, {{0x92, 0x30, 0x10}}}, {11, {{0x3E, 0x10}}}, {12, {{0x30, 0x00}}}},
         {"noteOn 60 1 from 11", "noteOn 48 2 from 12", "noteOn 62 1 from 11", "noteOff 48 2 from 12"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.start();
        for (const Step& step : c.steps) {
            rig.platform->deliver(step.from, step.packets);
        }
        EXPECT_EQ(rig.take(), Events{}) << "decoding waits for the main thread";
        rig.queue->runAll();
        EXPECT_EQ(rig.take(), c.expected);
    }
}

TEST(MIDIInputService, StopClosesEverythingAndKeepsTheList) {
    Rig rig;
    rig.service->start();
    const std::vector<MIDISourceInfo> listed = rig.service->sources();
    rig.take();
    rig.platform->deliver(11, {{0x90, 0x3C, 0x64}});
    rig.platform->clearCalls();

    rig.service->stop();
    EXPECT_THAT(rig.platform->calls(), ElementsAre("portDisconnectSource 4097 11", "portDisconnectSource 4097 12",
                                                   "portDispose 4097", "clientDispose 4096"));
    EXPECT_TRUE(rig.service->connected().empty());
    EXPECT_EQ(rig.service->sources(), listed);
    rig.queue->runAll();
    EXPECT_EQ(rig.take(), Events{}) << "no callback, and nothing delivered after stop";

    rig.platform->clearCalls();
    rig.service->stop();
    rig.service->refresh();
    EXPECT_THAT(rig.platform->calls(), ElementsAre()) << "a second stop, and a refresh while stopped, do nothing";

    rig.service->start();
    EXPECT_EQ(rig.platform->connections(), (std::map<std::uint32_t, std::uintptr_t>{{11, 11}, {12, 12}}));
    EXPECT_EQ(rig.play(12, {{0x90, 0x3C, 0x64}}), (Events{"change", "noteOn 60 0 from 12"}));
}

TEST(MIDIInputService, ReleasingTheServiceStopsItAndSilencesLateCallbacks) {
    Rig rig;
    rig.start();
    rig.platform->deliver(11, {{0x90, 0x3C, 0x64}});
    rig.platform->notifySetupChange();
    const auto onRead = rig.platform->lastReadCallback();
    const auto onSetupChange = rig.platform->lastSetupCallback();

    rig.service.reset();
    EXPECT_EQ(rig.platform->openClients(), 0u);
    EXPECT_EQ(rig.platform->openPorts(), 0u);
    EXPECT_TRUE(rig.platform->connections().empty());

    // A platform thread may still be inside a callback when the service goes.
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

TEST(MIDIInputService, UnsetCallbacksAreSkippedAndDecodingGoesOn) {
    auto memory = std::make_shared<MemoryMIDIPlatform>();
    auto queue = std::make_shared<MemoryMainQueue>();
    memory->setSources({source(11, "Piano"), source(12, "Teclado")});
    memory->setConnectStatus(12, -1);
    // An empty filter accepts every source.
    const auto service = MIDIInputService::create(memory, queue, nullptr);
    service->start();
    EXPECT_EQ(service->connected(), Endpoints{11});
    memory->setSources({source(12, "Teclado")});
    service->refresh();
    memory->setSources({source(11, "Piano")});
    service->refresh();

    memory->deliver(11, {{0x90, 0x3C}});
    queue->runAll();
    Events events;
    service->onMessage = [&](const MIDIMessage& message, std::uint32_t) { events.push_back(toString(message)); };
    memory->deliver(11, {{0x64}});
    queue->runAll();
    EXPECT_EQ(events, Events{"noteOn 60 0"});
}

TEST(MIDIInputService, CallbacksMayStopReplaceOrReleaseTheService) {
    {
        SCOPED_TRACE("onDisconnect stops the service");
        Rig rig({source(11, "A"), source(12, "B"), source(13, "C")});
        rig.start();
        rig.service->onDisconnect = [&](std::uint32_t endpoint) {
            rig.events.push_back("disconnect " + std::to_string(endpoint));
            rig.service->stop();
        };
        rig.rejected = {11, 12};
        rig.platform->setSources({source(11, "A"), source(12, "B"), source(13, "C"), source(14, "D")});
        rig.platform->clearCalls();
        rig.service->refresh();
        EXPECT_EQ(rig.take(), (Events{"disconnect 11", "change"}));
        EXPECT_EQ(rig.platform->callCount("portConnectSource"), 0u) << "nothing is connected to a closed port";
        EXPECT_TRUE(rig.service->connected().empty());
        EXPECT_EQ(rig.platform->openClients(), 0u);
    }
    {
        SCOPED_TRACE("onMessage replaces itself, then stops the service");
        Rig rig;
        rig.start();
        rig.service->onMessage = [&rig, tag = std::string("first")](const MIDIMessage& message, std::uint32_t) {
            rig.service->onMessage = [&rig](const MIDIMessage& next, std::uint32_t) {
                rig.events.push_back("then " + toString(next));
                rig.service->stop();
            };
            // Still running after its own replacement: its captures must still be there.
            rig.events.push_back(tag + " " + toString(message));
        };
        EXPECT_EQ(rig.play(11, {{0x90, 0x3C, 0x64, 0x3E, 0x64}}), (Events{"first noteOn 60 0", "first noteOn 62 0"}))
            << "the replacement takes over with the next batch";
        EXPECT_EQ(rig.play(11, {{0x40, 0x64, 0x41, 0x64}}), (Events{"then noteOn 64 0"}));
    }
    {
        SCOPED_TRACE("the owner lets go of the service in onError");
        Rig rig;
        rig.platform->setPortCreateStatus(-1);
        rig.service->onError = [&](const std::string& text) {
            rig.events.push_back(text);
            rig.service.reset();
        };
        rig.service->start();
        EXPECT_EQ(rig.service, nullptr);
        EXPECT_EQ(rig.take(), Events{"No se pudo abrir la entrada MIDI (-1)."});
        EXPECT_EQ(rig.platform->openClients(), 0u);
    }
}

// The order is the memory queue's; what this checks, run under ThreadSanitizer (the tsan preset),
// is the hand-over from the platform's threads to the main thread while both run.
TEST(MIDIInputService, BytesFromOtherThreadsAllArriveInOrderPerSource) {
    Rig rig;
    rig.start();
    constexpr int notesPerSource = 2000;
    std::vector<std::jthread> sources;
    for (const std::uint32_t endpoint : {11u, 12u}) {
        sources.emplace_back([&, endpoint] {
            for (int i = 0; i < notesPerSource; ++i) {
                rig.platform->deliver(endpoint, {{0x90, static_cast<std::uint8_t>(i % 128), 0x40}});
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (rig.events.size() < 2 * notesPerSource && std::chrono::steady_clock::now() < deadline) {
        rig.queue->waitForTask(std::chrono::milliseconds(100));
        rig.queue->runAll();
    }
    ASSERT_EQ(rig.events.size(), 2u * notesPerSource);
    std::map<std::string, int> next;
    for (const std::string& event : rig.take()) {
        const std::string from = event.substr(event.rfind(' ') + 1);
        ASSERT_EQ(event, "noteOn " + std::to_string(next[from]++ % 128) + " 0 from " + from);
    }
}

} // namespace
} // namespace quenlitor
