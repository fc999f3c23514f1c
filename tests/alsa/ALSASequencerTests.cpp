// The ALSA binding and the MIDI input service against the kernel's sequencer, with a second
// sequencer client of the test's own playing the keyboards. Skipped where the machine has no
// sequencer; scripts/alsa-vm-test.sh boots a kernel with one, and a virtual MIDI card.
#include "MIDIInputService.hpp"
#include "MIDIStream.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/alsa/ALSASourceIdentity.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

namespace quenlitor {
namespace {

using namespace std::chrono_literals;
using platform::alsa::ALSAMIDIPlatform;
using Strings = std::vector<std::string>;
using Gestures = std::vector<std::vector<std::ptrdiff_t>>;
using testing::ElementsAre;
using testing::MatchesRegex;

constexpr const char* keyboardClient = "Teclado de prueba";
constexpr const char* firstPort = "Teclado de prueba MIDI 1";
constexpr const char* secondPort = "Teclado de prueba MIDI 2";
constexpr const char* ownClient = "Quenlitor MIDI a Texto";
// Software emulation is slow; nothing here takes more than a fraction of this on real hardware.
constexpr auto patience = 10s;

// A sequencer client that plays MIDI keyboards: readable ports sending notes to their subscribers.
class Keyboards {
public:
    ~Keyboards() { close(); }

    bool open() {
        if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
            m_seq = nullptr;
            return false;
        }
        snd_seq_set_client_name(m_seq, keyboardClient);
        return true;
    }
    void close() {
        if (m_seq != nullptr) {
            snd_seq_close(std::exchange(m_seq, nullptr));
        }
    }

    // The new port's number, or a negative error.
    int createPort(const char* name, unsigned int extraCapabilities = 0) {
        return snd_seq_create_simple_port(m_seq, name,
                                          SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | extraCapabilities,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
    }
    void deletePort(int port) { snd_seq_delete_simple_port(m_seq, port); }

    void note(int port, bool on, int note, int channel, int velocity = 100) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(port));
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        const auto byte = [](int value) { return static_cast<unsigned char>(value); };
        on ? snd_seq_ev_set_noteon(&event, byte(channel), byte(note), byte(velocity))
           : snd_seq_ev_set_noteoff(&event, byte(channel), byte(note), 0);
        snd_seq_event_output_direct(m_seq, &event);
    }

    struct PortInfo {
        std::string name;
        unsigned int capabilities;
        unsigned int type;
    };
    // The ports of the client called `clientName`, or nothing when there is no such client.
    std::optional<std::vector<PortInfo>> portsOf(const std::string& clientName) {
        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_client_info_alloca(&clientInfo);
        snd_seq_port_info_t* portInfo = nullptr;
        snd_seq_port_info_alloca(&portInfo);
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(m_seq, clientInfo) >= 0) {
            if (clientName != snd_seq_client_info_get_name(clientInfo)) {
                continue;
            }
            std::vector<PortInfo> ports;
            snd_seq_port_info_set_client(portInfo, snd_seq_client_info_get_client(clientInfo));
            snd_seq_port_info_set_port(portInfo, -1);
            while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
                ports.push_back({snd_seq_port_info_get_name(portInfo), snd_seq_port_info_get_capability(portInfo),
                                 snd_seq_port_info_get_type(portInfo)});
            }
            return ports;
        }
        return std::nullopt;
    }

private:
    snd_seq_t* m_seq = nullptr;
};

std::string from(const std::string& message, std::uint32_t endpoint) {
    return message + " from " + std::to_string(endpoint);
}

// The raw MIDI device of the first snd-virmidi card, if one is loaded.
std::optional<std::string> virmidiDevice() {
    for (int card = 0; card < 32; ++card) {
        std::string id;
        if (std::getline(std::ifstream("/proc/asound/card" + std::to_string(card) + "/id"), id) && id.starts_with("VirMIDI")) {
            return "/dev/snd/midiC" + std::to_string(card) + "D0";
        }
    }
    return std::nullopt;
}

// The service on the real binding, started, with the test's thread as its main thread, and the
// keyboards' client opened.
class ALSASequencer : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/dev/snd/seq", F_OK) != 0) {
            GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq); scripts/alsa-vm-test.sh runs these in a VM";
        }
        ASSERT_TRUE(keyboards.open()) << "the test's own sequencer client could not be opened";
        service = MIDIInputService::create(platform, queue, [this](const MIDISourceInfo& source) {
            if (onFilter) {
                onFilter(source);
            }
            return true;
        });
        service->onMessage = [this](const MIDIMessage& message, std::uint32_t source) {
            messages.push_back(from(toString(message), source));
            if (auto gesture = session.receive(message, source)) {
                gestures.push_back(std::move(*gesture));
            }
        };
        service->onError = [this](const std::string& text) { errors.push_back(text); };
        // As the application does: keys held on a vanished source would never be released.
        service->onDisconnect = [this](std::uint32_t endpoint) {
            disconnects.push_back(endpoint);
            session.reset();
        };
        service->start();
        ASSERT_EQ(errors, Strings{});
    }

    // Runs the main queue until `done` holds or `timeout` has passed; true when it held.
    bool runUntil(const std::function<bool()>& done, std::chrono::nanoseconds timeout = patience) {
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
    Gestures takeGestures() { return std::exchange(gestures, {}); }

    std::vector<MIDISourceInfo> sourcesNamed(const std::string& name) const {
        std::vector<MIDISourceInfo> found;
        std::ranges::copy_if(service->sources(), std::back_inserter(found),
                             [&](const MIDISourceInfo& source) { return source.name == name; });
        return found;
    }
    std::optional<MIDISourceInfo> sourceNamed(const std::string& name) const {
        const auto found = sourcesNamed(name);
        return found.empty() ? std::nullopt : std::optional(found.front());
    }
    bool isConnected(const std::optional<MIDISourceInfo>& source) const {
        return source && service->connected().contains(source->endpoint);
    }
    // Waits until a source called `name`, other than `except`, is listed and connected.
    std::optional<MIDISourceInfo> waitConnected(const std::string& name, std::uint32_t except = 0) {
        std::optional<MIDISourceInfo> found;
        const bool connected = runUntil([&] {
            found = sourceNamed(name);
            return isConnected(found) && found->endpoint != except;
        });
        return connected ? found : std::nullopt;
    }
    // Plugs in a keyboard port called `name` and waits until the service has connected it.
    std::optional<MIDISourceInfo> plug(const char* name, int& port) {
        port = keyboards.createPort(name);
        return port < 0 ? std::nullopt : waitConnected(name);
    }
    std::string sourceList() const {
        std::string text = "sources:";
        for (const MIDISourceInfo& source : service->sources()) {
            text += " [" + source.name + " #" + std::to_string(source.endpoint) + " id " +
                    std::to_string(source.uniqueID) + (isConnected(source) ? " connected]" : "]");
        }
        return text;
    }

    Keyboards keyboards;
    std::shared_ptr<ALSAMIDIPlatform> platform = std::make_shared<ALSAMIDIPlatform>();
    std::shared_ptr<platform::memory::MemoryMainQueue> queue = std::make_shared<platform::memory::MemoryMainQueue>();
    std::shared_ptr<MIDIInputService> service;
    Strings messages; // "noteOn 60 0 from 7"
    Strings errors;
    std::vector<std::uint32_t> disconnects;
    Gestures gestures;
    CaptureSession session;
    // Called by the filter before it accepts a source.
    std::function<void(const MIDISourceInfo&)> onFilter;
};

TEST_F(ALSASequencer, ClientAndPortAreOpenedAsPromisedAndOnlyOthersListed) {
    const auto ports = keyboards.portsOf(ownClient);
    ASSERT_TRUE(ports) << "no sequencer client called " << ownClient;
    ASSERT_EQ(ports->size(), 1u);
    EXPECT_EQ((*ports)[0].name, "Notas para Quenlitor Keyboard");
    const unsigned int wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT;
    EXPECT_EQ((*ports)[0].capabilities & (wanted | SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ), wanted);
    EXPECT_NE((*ports)[0].type & SND_SEQ_PORT_TYPE_APPLICATION, 0u);
    for (const MIDISourceInfo& source : service->sources()) {
        SCOPED_TRACE(source.name);
        EXPECT_FALSE(source.name.starts_with("System") || source.name.find("Quenlitor") != std::string::npos);
        EXPECT_TRUE(isConnected(source));
    }
}

// Plugged in, a keyboard is connected (the notes it sends to its subscribers arrive) and plays;
// with a second one interleaved on the same channel, each message keeps its source and its
// status byte, which running status across sources would leave out.
TEST_F(ALSASequencer, PluggedKeyboardsAreConnectedAndKeptApart) {
    int port1 = -1;
    const auto first = plug(firstPort, port1);
    ASSERT_TRUE(first) << sourceList();
    EXPECT_EQ(first->uniqueID, platform::alsa::sourceUniqueID({keyboardClient, firstPort}, 0));
    keyboards.note(port1, true, 60, 0);
    keyboards.note(port1, true, 64, 0, 90);
    keyboards.note(port1, false, 60, 0);
    keyboards.note(port1, true, 64, 0, 0);
    const auto at = [](const std::optional<MIDISourceInfo>& source, const char* message) {
        return from(message, source->endpoint);
    };
    EXPECT_EQ(take(4), (Strings{at(first, "noteOn 60 0"), at(first, "noteOn 64 0"), at(first, "noteOff 60 0"),
                                at(first, "noteOff 64 0")}));
    EXPECT_EQ(takeGestures(), (Gestures{{60, 64}}));

    int port2 = -1;
    const auto second = plug(secondPort, port2);
    ASSERT_TRUE(second) << sourceList();
    keyboards.note(port1, true, 67, 1);
    keyboards.note(port2, true, 48, 1);
    keyboards.note(port1, false, 67, 1);
    keyboards.note(port2, false, 48, 1);
    EXPECT_EQ(take(4), (Strings{at(first, "noteOn 67 1"), at(second, "noteOn 48 1"), at(first, "noteOff 67 1"),
                                at(second, "noteOff 48 1")}));
    EXPECT_EQ(takeGestures(), (Gestures{{48, 67}}));
}

TEST_F(ALSASequencer, IdenticalTwinRanksSecondAndHiddenPortIsNotOffered) {
    int port = -1;
    const auto first = plug(firstPort, port);
    ASSERT_TRUE(first) << sourceList();
    ASSERT_GE(keyboards.createPort(firstPort), 0);
    ASSERT_GE(keyboards.createPort("Puerto oculto", SND_SEQ_PORT_CAP_NO_EXPORT), 0);
    runUntil([&] { return sourcesNamed(firstPort).size() == 2; });
    const auto twins = sourcesNamed(firstPort);
    ASSERT_EQ(twins.size(), 2u) << sourceList();
    // Equal names keep the order of client and port numbers, and the twin's port came second.
    EXPECT_EQ(twins[0], *first) << "the first keyboard keeps its endpoint and id";
    EXPECT_EQ(twins[1].uniqueID, platform::alsa::sourceUniqueID({keyboardClient, firstPort}, 1));
    EXPECT_FALSE(sourceNamed("Teclado de prueba: Puerto oculto")) << sourceList();
}

// Unplugged and plugged in again, then the whole client replaced, most likely under the same
// client number: each time the same id, a new endpoint, and notes flow from it.
TEST_F(ALSASequencer, ReplugKeepsTheIDUnderANewEndpoint) {
    int port = -1;
    const auto first = plug(firstPort, port);
    ASSERT_TRUE(first) << sourceList();
    keyboards.deletePort(port);
    EXPECT_TRUE(runUntil([&] {
        return !sourceNamed(firstPort) && std::ranges::find(disconnects, first->endpoint) != disconnects.end();
    })) << sourceList();

    const auto replugged = plug(firstPort, port);
    ASSERT_TRUE(replugged) << sourceList();
    EXPECT_EQ(replugged->uniqueID, first->uniqueID);
    EXPECT_NE(replugged->endpoint, first->endpoint);
    keyboards.note(port, true, 72, 3);
    EXPECT_EQ(take(1), Strings{from("noteOn 72 3", replugged->endpoint)});

    keyboards.close();
    ASSERT_TRUE(keyboards.open());
    port = keyboards.createPort(firstPort);
    const auto again = waitConnected(firstPort, replugged->endpoint);
    ASSERT_TRUE(again) << sourceList();
    EXPECT_EQ(again->uniqueID, first->uniqueID);
    EXPECT_NE(std::ranges::find(disconnects, replugged->endpoint), disconnects.end());
    keyboards.note(port, true, 40, 0);
    keyboards.note(port, false, 40, 0);
    EXPECT_EQ(take(2), (Strings{from("noteOn 40 0", again->endpoint), from("noteOff 40 0", again->endpoint)}));
}

TEST_F(ALSASequencer, SourceGoneBeforeItsConnectionIsReported) {
    int doomed = -1;
    onFilter = [&](const MIDISourceInfo& source) {
        if (source.name == "Teclado de prueba MIDI 3" && doomed >= 0) {
            keyboards.deletePort(std::exchange(doomed, -1));
        }
    };
    doomed = keyboards.createPort("Teclado de prueba MIDI 3");
    runUntil([&] { return !errors.empty(); });
    onFilter = nullptr;
    EXPECT_THAT(errors, ElementsAre(MatchesRegex(R"(No se pudo conectar una entrada MIDI \(-[0-9]+\)\.)")));
    runUntil([&] { return !sourceNamed("Teclado de prueba MIDI 3"); });
    EXPECT_FALSE(sourceNamed("Teclado de prueba MIDI 3")) << sourceList();
}

TEST_F(ALSASequencer, NotesKeepFlowingInOrderDuringRescans) {
    int port = -1;
    const auto keyboard = plug(firstPort, port);
    ASSERT_TRUE(keyboard) << sourceList();
    constexpr int rounds = 20;
    constexpr int perRound = 10;
    Strings expected;
    for (int i = 0; i < rounds * perRound; ++i) {
        for (const char* kind : {"noteOn ", "noteOff "}) {
            expected.push_back(from(kind + std::to_string(30 + i % perRound) + " 2", keyboard->endpoint));
        }
    }
    std::atomic<bool> sent = false;
    std::thread player([&] {
        for (int i = 0; i < rounds * perRound; ++i) {
            keyboards.note(port, true, 30 + i % perRound, 2);
            keyboards.note(port, false, 30 + i % perRound, 2);
            if (i % perRound == perRound - 1) {
                // Paced, so the kernel's input queue of the service never overflows.
                std::this_thread::sleep_for(10ms);
            }
        }
        sent = true;
    });
    runUntil([&] {
        service->refresh();
        return sent && messages.size() >= expected.size();
    });
    player.join();
    runUntil([] { return false; }, 100ms);
    EXPECT_EQ(messages, expected);
}

// Raw bytes, running status included, go through the kernel's own parser and come back out of
// the binding as the same messages.
TEST_F(ALSASequencer, VirtualMIDICardBytesArriveAsMessages) {
    const auto device = virmidiDevice();
    if (!device) {
        GTEST_SKIP() << "no snd-virmidi card in /proc/asound";
    }
    std::optional<MIDISourceInfo> virmidi;
    runUntil([&] {
        for (const MIDISourceInfo& source : service->sources()) {
            if (source.name.find("VirMIDI") != std::string::npos && isConnected(source)) {
                virmidi = source;
            }
        }
        return virmidi.has_value();
    });
    ASSERT_TRUE(virmidi) << sourceList();
    const int fd = ::open(device->c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << *device;
    const std::uint8_t bytes[] = {0x90, 60, 100, 64, 100, 0x80, 60, 0, 0x90, 64, 0};
    EXPECT_EQ(::write(fd, bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
    ::close(fd);
    const auto at = [&](const char* message) { return from(message, virmidi->endpoint); };
    EXPECT_EQ(take(4), (Strings{at("noteOn 60 0"), at("noteOn 64 0"), at("noteOff 60 0"), at("noteOff 64 0")}));
    EXPECT_EQ(takeGestures(), (Gestures{{60, 64}}));
}

// Started again, the same keyboard has a new endpoint under the same id.
TEST_F(ALSASequencer, StopRestartAndReleaseFollowTheClient) {
    int port = -1;
    const auto before = plug(firstPort, port);
    ASSERT_TRUE(before) << sourceList();
    const auto listed = service->sources();
    service->stop();
    keyboards.note(port, true, 50, 0);
    runUntil([] { return false; }, 200ms);
    EXPECT_FALSE(keyboards.portsOf(ownClient)) << "the service's client is still in the kernel";
    EXPECT_EQ(messages, Strings{});
    EXPECT_TRUE(service->connected().empty());
    EXPECT_EQ(service->sources(), listed);

    service->start();
    const auto after = waitConnected(firstPort, before->endpoint);
    ASSERT_TRUE(after) << sourceList();
    EXPECT_EQ(after->uniqueID, before->uniqueID);
    EXPECT_EQ(errors, Strings{});

    const std::weak_ptr<MIDIInputService> weak = service;
    service.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(keyboards.portsOf(ownClient)) << "the service's client outlived the service";
}

} // namespace
} // namespace quenlitor
