// The ALSA binding and the MIDI input service against the kernel's sequencer, with a client of the
// test's own playing the keyboards. Skipped without a sequencer; scripts/alsa-vm-test.sh has one.
#include "MIDIInputService.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace quenlitor {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using platform::alsa::sourceUniqueID;

constexpr const char* keyboardClient = "Teclado de prueba";
constexpr const char* firstPort = "Teclado de prueba MIDI 1";

// A sequencer client playing MIDI keyboards: ports as a card has them, sending to their subscribers.
struct Keyboards {
    ~Keyboards() { close(); }
    bool open() { return snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) == 0 && snd_seq_set_client_name(seq, keyboardClient) == 0; }
    void close() {
        if (seq != nullptr) {
            snd_seq_close(std::exchange(seq, nullptr));
        }
    }
    int createPort(const char* name, unsigned int extra = 0) {
        return snd_seq_create_simple_port(seq, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                          SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_DUPLEX | extra,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
    }
    void note(int port, bool on, int note, int channel) {
        const auto byte = [](int value) { return static_cast<unsigned char>(value); };
        snd_seq_event_t event{};
        event.type = on ? SND_SEQ_EVENT_NOTEON : SND_SEQ_EVENT_NOTEOFF;
        event.source.port = byte(port);
        event.data.note = {byte(channel), byte(note), byte(on ? 100 : 0), 0, 0};
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_event_output_direct(seq, &event);
    }
    snd_seq_t* seq = nullptr;
};

std::string from(const std::string& message, const MIDISourceInfo& source) {
    return message + " from " + std::to_string(source.endpoint);
}

// The service on the real binding, started, with the test's thread as its main thread.
class ALSASequencer : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/dev/snd/seq", F_OK) != 0) {
            GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq); scripts/alsa-vm-test.sh runs these in a VM";
        }
        ASSERT_TRUE(keyboards.open());
        service = MIDIInputService::create(platform, queue, {});
        service->onMessage = [this](const MIDIMessage& message, std::uint32_t source) {
            messages.push_back(toString(message) + " from " + std::to_string(source));
        };
        service->onError = [this](const std::string& text) { errors.push_back(text); };
        service->onDisconnect = [this](std::uint32_t endpoint) { disconnects.push_back(endpoint); };
        service->start();
        ASSERT_EQ(errors, Strings{});
    }

    // Runs the main queue until `done` holds or `timeout` has passed (software emulation is slow).
    bool runUntil(const std::function<bool()>& done, std::chrono::nanoseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (queue->runAll(); !done(); queue->runAll()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            queue->waitForTask(20ms);
        }
        return true;
    }
    // The messages delivered once there are at least `count`, or when patience runs out.
    Strings take(std::size_t count) {
        runUntil([&] { return messages.size() >= count; });
        return std::exchange(messages, {});
    }
    // The sources called `name` once there are `count`, all connected, the first not `except`.
    std::vector<MIDISourceInfo> connected(const std::string& name, std::size_t count = 1, std::uint32_t except = 0) {
        std::vector<MIDISourceInfo> found;
        return runUntil([&] {
            found.clear();
            std::ranges::copy_if(service->sources(), std::back_inserter(found), [&](const auto& source) { return source.name == name; });
            return found.size() == count && found[0].endpoint != except &&
                   std::ranges::all_of(found, [&](const auto& source) { return service->connected().contains(source.endpoint); });
        }) ? found : std::vector<MIDISourceInfo>{};
    }

    Keyboards keyboards;
    std::shared_ptr<platform::alsa::ALSAMIDIPlatform> platform = std::make_shared<platform::alsa::ALSAMIDIPlatform>();
    std::shared_ptr<platform::memory::MemoryMainQueue> queue = std::make_shared<platform::memory::MemoryMainQueue>();
    std::shared_ptr<MIDIInputService> service;
    Strings messages; // "noteOn 60 0 from 7"
    Strings errors;
    std::vector<std::uint32_t> disconnects;
};

// Its one port is hidden from other programs' lists, and from its own as is the system client;
// stopped, the client leaves the kernel and nothing arrives; released, the service takes it along.
TEST_F(ALSASequencer, ClientAndPortAreOpenedAsPromisedAndOnlyOthersListed) {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_t* port = nullptr;
    snd_seq_port_info_alloca(&port);
    const int own = platform->sequencerClient();
    ASSERT_EQ(snd_seq_get_any_client_info(keyboards.seq, own, client), 0);
    EXPECT_STREQ(snd_seq_client_info_get_name(client), "Quenlitor MIDI a Texto");
    ASSERT_EQ(snd_seq_get_any_port_info(keyboards.seq, own, 0, port), 0);
    EXPECT_STREQ(snd_seq_port_info_get_name(port), "Notas para Quenlitor Keyboard");
    const unsigned int wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT;
    EXPECT_EQ(snd_seq_port_info_get_capability(port) & (wanted | SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ), wanted);
    EXPECT_NE(snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_APPLICATION, 0u);
    const int keyboard = keyboards.createPort(firstPort);
    ASSERT_EQ(connected(firstPort).size(), 1u) << testing::PrintToString(service->sources());
    for (const MIDISourceInfo& source : service->sources()) {
        SCOPED_TRACE(source.name);
        EXPECT_FALSE(source.name.starts_with("System") || source.name.find("Quenlitor") != std::string::npos);
        EXPECT_TRUE(service->connected().contains(source.endpoint));
    }
    service->stop();
    keyboards.note(keyboard, true, 50, 0);
    runUntil([] { return false; }, 200ms);
    EXPECT_NE(snd_seq_get_any_client_info(keyboards.seq, own, client), 0) << "the stopped service's client is still there";
    EXPECT_EQ(messages, Strings{});
    service->start();
    const int again = platform->sequencerClient();
    service.reset();
    EXPECT_NE(snd_seq_get_any_client_info(keyboards.seq, again, client), 0) << "the client outlived the service";
}

// Each message keeps its source and its status byte (running status across sources would leave it
// out) when a twin, ranked second, plays interleaved on the same channel; a port its program keeps
// out of other programs' lists is not offered.
TEST_F(ALSASequencer, PluggedKeyboardsAreConnectedAndKeptApart) {
    const int port1 = keyboards.createPort(firstPort);
    const auto first = connected(firstPort);
    ASSERT_EQ(first.size(), 1u) << testing::PrintToString(service->sources());
    EXPECT_EQ(first[0].uniqueID, sourceUniqueID({keyboardClient, firstPort}, 0));
    const int port2 = keyboards.createPort(firstPort);
    ASSERT_GE(keyboards.createPort("Puerto oculto", SND_SEQ_PORT_CAP_NO_EXPORT), 0);
    const auto twins = connected(firstPort, 2);
    ASSERT_EQ(twins.size(), 2u) << testing::PrintToString(service->sources());
    EXPECT_EQ(twins[0], first[0]) << "the first keyboard keeps its endpoint and id";
    EXPECT_EQ(twins[1].uniqueID, sourceUniqueID({keyboardClient, firstPort}, 1));
    EXPECT_TRUE(std::ranges::none_of(service->sources(), [](const auto& source) { return source.name.ends_with("oculto"); }));
    keyboards.note(port1, true, 67, 1);
    keyboards.note(port2, true, 48, 1);
    keyboards.note(port1, false, 67, 1);
    keyboards.note(port2, false, 48, 1);
    EXPECT_EQ(take(4), (Strings{from("noteOn 67 1", twins[0]), from("noteOn 48 1", twins[1]), from("noteOff 67 1", twins[0]),
                                from("noteOff 48 1", twins[1])}));
}

// Unplugged and plugged in again, its whole client replaced (most likely under the same client
// number), the service restarted: each time the same id, a new endpoint, and notes flow from it.
TEST_F(ALSASequencer, ReplugKeepsTheIDUnderANewEndpoint) {
    int port = keyboards.createPort(firstPort);
    const std::function<void()> replugs[] = {
        [&] { snd_seq_delete_simple_port(keyboards.seq, port); },
        [&] { keyboards.close(); keyboards.open(); },
        [&] { service->stop(); service->start(); },
    };
    auto before = connected(firstPort);
    ASSERT_EQ(before.size(), 1u) << testing::PrintToString(service->sources());
    std::vector<std::uint32_t> lost;
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        replugs[index]();
        port = index < 2 ? keyboards.createPort(firstPort) : port;
        const auto after = connected(firstPort, 1, before[0].endpoint);
        ASSERT_EQ(after.size(), 1u) << testing::PrintToString(service->sources());
        EXPECT_EQ(after[0].uniqueID, before[0].uniqueID);
        // The service tells the endpoints it loses while running, and only those: the other
        // clients' ports stay as they were.
        lost.insert(lost.end(), index < 2 ? 1 : 0, before[0].endpoint);
        EXPECT_EQ(disconnects, lost);
        keyboards.note(port, true, 60 + index, 0);
        EXPECT_EQ(take(1), Strings{from("noteOn " + std::to_string(60 + index) + " 0", after[0])});
        before = after;
    }
    EXPECT_EQ(errors, Strings{});
}

} // namespace
} // namespace quenlitor
