// Drives the ALSA binding and the MIDI input service against the kernel's sequencer, with a second
// sequencer client of its own playing the keyboards. Prints "ALSA-CHECK PASS name" or
// "ALSA-CHECK FAIL name: why" for each check and "ALSA-CHECK DONE ok" or "ALSA-CHECK DONE failed"
// at the end, exiting 0 only when every check passed. Where the machine has no sequencer it prints
// "ALSA-CHECK SKIPPED" and exits 0.
//
// Usage: alsa-binding-check [--expect-virmidi]
//   --expect-virmidi   fail unless a snd-virmidi device is there to carry raw bytes through the kernel
//
// Plain output rather than a test framework: in the virtual machine the serial console is all
// there is, and its lines decide the verdict.

#include "MIDIInputService.hpp"
#include "MIDIStream.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/alsa/ALSASourceIdentity.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quenlitor {
namespace {

using namespace std::chrono_literals;
using platform::alsa::ALSAMIDIPlatform;
using platform::memory::MemoryMainQueue;

constexpr const char* keyboardClient = "Teclado de prueba";
constexpr const char* firstPort = "Teclado de prueba MIDI 1";
constexpr const char* secondPort = "Teclado de prueba MIDI 2";
constexpr const char* refusedPort = "Teclado de prueba MIDI 3";
// Software emulation is slow; nothing here takes more than a fraction of this on real hardware.
constexpr auto patience = 10s;

int failures = 0;

void pass(const std::string& name) { std::printf("ALSA-CHECK PASS %s\n", name.c_str()); }
void fail(const std::string& name, const std::string& why) {
    ++failures;
    std::printf("ALSA-CHECK FAIL %s: %s\n", name.c_str(), why.c_str());
}
void info(const std::string& text) { std::printf("ALSA-CHECK INFO %s\n", text.c_str()); }
bool check(const std::string& name, bool ok, const std::string& why) {
    ok ? pass(name) : fail(name, why);
    std::fflush(stdout);
    return ok;
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += text.empty() ? "" : " | ";
        text += line;
    }
    return "[" + text + "]";
}

// A sequencer client of the test's own that plays MIDI keyboards: it opens readable ports and
// sends notes from them to whoever subscribed.
class Keyboards {
public:
    Keyboards() { open(); }
    ~Keyboards() { close(); }
    Keyboards(const Keyboards&) = delete;
    Keyboards& operator=(const Keyboards&) = delete;

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
            snd_seq_close(m_seq);
            m_seq = nullptr;
        }
    }
    bool isOpen() const { return m_seq != nullptr; }
    int client() const { return snd_seq_client_id(m_seq); }

    // The new port's number, or a negative error.
    int createPort(const char* name, unsigned int extraCapabilities = 0) {
        return snd_seq_create_simple_port(m_seq, name,
                                          SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | extraCapabilities,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE);
    }
    int deletePort(int port) { return snd_seq_delete_simple_port(m_seq, port); }

    int note(int port, bool on, int note, int channel, int velocity = 100) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(port));
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        const auto byte = [](int value) { return static_cast<unsigned char>(value); };
        if (on) {
            snd_seq_ev_set_noteon(&event, byte(channel), byte(note), byte(velocity));
        } else {
            snd_seq_ev_set_noteoff(&event, byte(channel), byte(note), 0);
        }
        return snd_seq_event_output_direct(m_seq, &event);
    }

    // Whether `port` of this client has a subscriber at client:port `to`.
    bool isSubscribedBy(int port, int toClient) {
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        const snd_seq_addr_t root{static_cast<unsigned char>(client()), static_cast<unsigned char>(port)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
        snd_seq_query_subscribe_set_index(query, 0);
        while (snd_seq_query_port_subscribers(m_seq, query) >= 0) {
            if (snd_seq_query_subscribe_get_addr(query)->client == toClient) {
                return true;
            }
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        return false;
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

// The service on the real binding, with the test's thread as its main thread.
struct Rig {
    std::shared_ptr<ALSAMIDIPlatform> platform = std::make_shared<ALSAMIDIPlatform>();
    std::shared_ptr<MemoryMainQueue> queue = std::make_shared<MemoryMainQueue>();
    std::shared_ptr<MIDIInputService> service;
    // "noteOn 60 0 from 7" lines, for every message delivered.
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::vector<std::uint32_t> disconnects;
    std::vector<std::vector<std::ptrdiff_t>> gestures;
    CaptureSession session;
    // Called by the filter before it answers; the filter then accepts every source.
    std::function<void(const MIDISourceInfo&)> onFilter;

    Rig() {
        service = MIDIInputService::create(platform, queue, [this](const MIDISourceInfo& source) {
            if (onFilter) {
                onFilter(source);
            }
            return true;
        });
        service->onMessage = [this](const MIDIMessage& message, std::uint32_t source) {
            messages.push_back(toString(message) + " from " + std::to_string(source));
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
    }

    // Runs the main queue until `done` holds or `patience` has passed.
    bool runUntil(const std::function<bool()>& done, std::chrono::nanoseconds timeout = patience) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            queue->runAll();
            if (done()) {
                return true;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            queue->waitForTask(std::min<std::chrono::nanoseconds>(deadline - now, 20ms));
        }
    }
    // Runs the main queue for `duration`, whatever arrives.
    void runFor(std::chrono::nanoseconds duration) {
        runUntil([] { return false; }, duration);
    }

    std::optional<MIDISourceInfo> sourceNamed(const std::string& name) const {
        for (const MIDISourceInfo& source : service->sources()) {
            if (source.name == name) {
                return source;
            }
        }
        return std::nullopt;
    }
    std::vector<MIDISourceInfo> sourcesNamed(const std::string& name) const {
        std::vector<MIDISourceInfo> found;
        std::ranges::copy_if(service->sources(), std::back_inserter(found),
                             [&](const MIDISourceInfo& source) { return source.name == name; });
        return found;
    }
    // Waits until a source called `name` is listed and connected, and returns it.
    std::optional<MIDISourceInfo> waitConnected(const std::string& name) {
        std::optional<MIDISourceInfo> found;
        runUntil([&] {
            found = sourceNamed(name);
            return found && service->connected().contains(found->endpoint);
        });
        return found && service->connected().contains(found->endpoint) ? found : std::nullopt;
    }
    std::string sourceList() const {
        std::vector<std::string> lines;
        for (const MIDISourceInfo& source : service->sources()) {
            lines.push_back(source.name + " #" + std::to_string(source.endpoint) + " id " +
                            std::to_string(source.uniqueID) +
                            (service->connected().contains(source.endpoint) ? " connected" : ""));
        }
        return join(lines);
    }
};

std::string from(const char* message, std::uint32_t endpoint) {
    return std::string(message) + " from " + std::to_string(endpoint);
}

std::int32_t expectedID(const char* port, std::size_t rank = 0) {
    return platform::alsa::sourceUniqueID({keyboardClient, port}, rank);
}

// The raw MIDI device of the first snd-virmidi card, if one is loaded.
std::optional<std::string> virmidiDevice() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/asound", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("card")) {
            continue;
        }
        std::FILE* file = std::fopen((entry.path() / "id").c_str(), "r");
        if (file == nullptr) {
            continue;
        }
        char id[64] = {};
        const bool read = std::fgets(id, sizeof id, file) != nullptr;
        std::fclose(file);
        if (read && std::string(id).starts_with("VirMIDI")) {
            return "/dev/snd/midiC" + name.substr(4) + "D0";
        }
    }
    return std::nullopt;
}

void run(bool expectVirmidi) {
    Keyboards keyboards;
    if (!check("keyboard-client", keyboards.isOpen(), "the test's own sequencer client could not be opened")) {
        return;
    }
    Rig rig;

    // The service opens its client and port, which the kernel shows as the binding promises.
    rig.service->start();
    {
        const auto ports = keyboards.portsOf("Quenlitor MIDI a Texto");
        const unsigned int wanted =
            SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT;
        std::string why;
        if (!rig.errors.empty()) {
            why = "errors " + join(rig.errors);
        } else if (!ports) {
            why = "no sequencer client called \"Quenlitor MIDI a Texto\"";
        } else if (ports->size() != 1 || (*ports)[0].name != "Notas para Quenlitor Keyboard") {
            why = "expected one port \"Notas para Quenlitor Keyboard\", found " + std::to_string(ports->size());
        } else if (((*ports)[0].capabilities & wanted) != wanted ||
                   ((*ports)[0].capabilities & (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)) != 0) {
            why = "capabilities " + std::to_string((*ports)[0].capabilities);
        } else if (((*ports)[0].type & SND_SEQ_PORT_TYPE_APPLICATION) == 0) {
            why = "type " + std::to_string((*ports)[0].type);
        }
        check("client-and-port", why.empty(), why);
    }
    info("sources at start " + rig.sourceList());
    {
        std::string why;
        for (const MIDISourceInfo& source : rig.service->sources()) {
            if (source.name.starts_with("System") || source.name.find("Quenlitor") != std::string::npos) {
                why = "listed " + source.name;
            }
            if (!rig.service->connected().contains(source.endpoint)) {
                why = "not connected: " + source.name;
            }
        }
        check("sources-exclude-system-and-self", why.empty(), why);
    }

    // A keyboard plugged in: the announcement makes the service list and connect it.
    const int port1 = keyboards.createPort(firstPort);
    // The port now called firstPort, wherever it moves.
    int keyboardPort = port1;
    const auto first = rig.waitConnected(firstPort);
    if (!check("announced-source-connected", port1 >= 0 && first.has_value(),
               "port " + std::to_string(port1) + ", sources " + rig.sourceList())) {
        return;
    }
    check("unique-id-from-names", first->uniqueID == expectedID(firstPort),
          "id " + std::to_string(first->uniqueID) + ", expected " + std::to_string(expectedID(firstPort)));
    check("subscribed-in-kernel", keyboards.isSubscribedBy(port1, rig.platform->sequencerClient()),
          "the kernel shows no subscription of the keyboard port by the service's client");

    // Notes come out as messages, and a finished gesture as its notes.
    keyboards.note(port1, true, 60, 0);
    keyboards.note(port1, true, 64, 0, 90);
    keyboards.note(port1, false, 60, 0);
    keyboards.note(port1, true, 64, 0, 0);
    rig.runUntil([&] { return rig.messages.size() >= 4; });
    const std::vector<std::string> played{from("noteOn 60 0", first->endpoint), from("noteOn 64 0", first->endpoint),
                                          from("noteOff 60 0", first->endpoint),
                                          from("noteOff 64 0", first->endpoint)};
    check("notes-decoded", rig.messages == played, "got " + join(rig.messages));
    check("gesture-finished", rig.gestures == std::vector<std::vector<std::ptrdiff_t>>{{60, 64}},
          "got " + std::to_string(rig.gestures.size()) + " gestures");
    rig.messages.clear();
    rig.gestures.clear();

    // Two keyboards interleaved on the same channel: every message keeps its own source, and its
    // status byte, which running status across sources would leave out.
    const int port2 = keyboards.createPort(secondPort);
    const auto second = rig.waitConnected(secondPort);
    if (check("second-source-connected", port2 >= 0 && second.has_value(), "sources " + rig.sourceList())) {
        keyboards.note(port1, true, 67, 1);
        keyboards.note(port2, true, 48, 1);
        keyboards.note(port1, false, 67, 1);
        keyboards.note(port2, false, 48, 1);
        rig.runUntil([&] { return rig.messages.size() >= 4; });
        const std::vector<std::string> interleaved{
            from("noteOn 67 1", first->endpoint), from("noteOn 48 1", second->endpoint),
            from("noteOff 67 1", first->endpoint), from("noteOff 48 1", second->endpoint)};
        check("sources-kept-apart", rig.messages == interleaved, "got " + join(rig.messages));
        check("gesture-across-sources", rig.gestures == std::vector<std::vector<std::ptrdiff_t>>{{48, 67}},
              "got " + std::to_string(rig.gestures.size()) + " gestures");
        rig.messages.clear();
        rig.gestures.clear();
    }

    // An identical twin ranks after the first, which keeps its id; a hidden port is not offered.
    const int twin = keyboards.createPort(firstPort);
    const int hidden = keyboards.createPort("Puerto oculto", SND_SEQ_PORT_CAP_NO_EXPORT);
    rig.runUntil([&] { return rig.sourcesNamed(firstPort).size() == 2; });
    {
        const auto twins = rig.sourcesNamed(firstPort);
        std::string why;
        if (twins.size() != 2) {
            why = "sources " + rig.sourceList();
        } else {
            const auto original = std::ranges::find(twins, first->endpoint, &MIDISourceInfo::endpoint);
            const auto other = std::ranges::find_if(
                twins, [&](const MIDISourceInfo& source) { return source.endpoint != first->endpoint; });
            if (original == twins.end() || original->uniqueID != expectedID(firstPort)) {
                why = "the first keyboard lost its endpoint or id: " + rig.sourceList();
            } else if (other->uniqueID != expectedID(firstPort, 1)) {
                why = "twin id " + std::to_string(other->uniqueID) + ", expected " +
                      std::to_string(expectedID(firstPort, 1));
            }
        }
        check("identical-twins-ranked", twin >= 0 && why.empty(), why);
        check("hidden-port-not-listed", hidden >= 0 && !rig.sourceNamed("Teclado de prueba: Puerto oculto"),
              "sources " + rig.sourceList());
    }
    keyboards.deletePort(twin);
    keyboards.deletePort(hidden);
    if (port2 >= 0) {
        keyboards.deletePort(port2);
    }
    rig.runUntil([&] { return rig.sourcesNamed(firstPort).size() == 1 && !rig.sourceNamed(secondPort); });

    // Unplugged: the service drops it. Plugged in again: same id, new endpoint, notes flow.
    rig.disconnects.clear();
    keyboards.deletePort(port1);
    const bool dropped = rig.runUntil([&] {
        return !rig.sourceNamed(firstPort) &&
               std::ranges::find(rig.disconnects, first->endpoint) != rig.disconnects.end();
    });
    check("unplugged-source-dropped", dropped, "sources " + rig.sourceList());
    const int port1Again = keyboards.createPort(firstPort);
    keyboardPort = port1Again;
    info("port number before and after replugging: " + std::to_string(port1) + ", " + std::to_string(port1Again));
    const auto replugged = rig.waitConnected(firstPort);
    if (check("replugged-source-connected", replugged.has_value(), "sources " + rig.sourceList())) {
        check("replugged-same-id-new-endpoint",
              replugged->uniqueID == first->uniqueID && replugged->endpoint != first->endpoint,
              "endpoint " + std::to_string(first->endpoint) + " -> " + std::to_string(replugged->endpoint) + ", id " +
                  std::to_string(first->uniqueID) + " -> " + std::to_string(replugged->uniqueID));
        keyboards.note(port1Again, true, 72, 3);
        rig.runUntil([&] { return !rig.messages.empty(); });
        check("replugged-notes", rig.messages == std::vector<std::string>{from("noteOn 72 3", replugged->endpoint)},
              "got " + join(rig.messages));
        rig.messages.clear();
    }

    // The whole keyboard client goes and a new one comes, most likely under the same client
    // number: a new endpoint for the same id, and nothing of the old one is taken for it.
    {
        const int oldClient = keyboards.client();
        rig.disconnects.clear();
        keyboards.close();
        keyboards.open();
        keyboardPort = keyboards.createPort(firstPort);
        info("keyboard client number before and after: " + std::to_string(oldClient) + ", " +
             std::to_string(keyboards.client()));
        std::optional<MIDISourceInfo> again;
        rig.runUntil([&] {
            again = rig.sourceNamed(firstPort);
            return again && replugged && again->endpoint != replugged->endpoint &&
                   rig.service->connected().contains(again->endpoint);
        });
        check("new-client-new-endpoint",
              replugged && again && again->endpoint != replugged->endpoint && again->uniqueID == first->uniqueID &&
                  std::ranges::find(rig.disconnects, replugged->endpoint) != rig.disconnects.end(),
              "sources " + rig.sourceList());
        if (again) {
            keyboards.note(keyboardPort, true, 40, 0);
            keyboards.note(keyboardPort, false, 40, 0);
            rig.runUntil([&] { return rig.messages.size() >= 2; });
            check("new-client-notes",
                  rig.messages == std::vector<std::string>{from("noteOn 40 0", again->endpoint),
                                                           from("noteOff 40 0", again->endpoint)},
                  "got " + join(rig.messages));
            rig.messages.clear();
            rig.gestures.clear();
        }
    }

    // Refusal: the source vanishes between listing and connecting, so the connection fails and
    // the service says so in Spanish.
    {
        int doomed = -1;
        rig.onFilter = [&](const MIDISourceInfo& source) {
            if (source.name == refusedPort && doomed >= 0) {
                keyboards.deletePort(doomed);
                doomed = -1;
            }
        };
        rig.errors.clear();
        doomed = keyboards.createPort(refusedPort);
        rig.runUntil([&] { return !rig.errors.empty(); });
        rig.onFilter = nullptr;
        const std::string prefix = "No se pudo conectar una entrada MIDI (-";
        const bool refused = rig.errors.size() == 1 && rig.errors[0].starts_with(prefix) &&
                             rig.errors[0].ends_with(").") &&
                             std::ranges::all_of(rig.errors[0].substr(prefix.size(), rig.errors[0].size() - prefix.size() - 2),
                                                 [](char c) { return c >= '0' && c <= '9'; });
        check("refused-connection-reported", refused, "errors " + join(rig.errors));
        if (!rig.errors.empty()) {
            info("refusal text: " + rig.errors[0]);
        }
        rig.runUntil([&] { return !rig.sourceNamed(refusedPort); });
        check("refused-source-not-connected", !rig.sourceNamed(refusedPort), "sources " + rig.sourceList());
    }

    // The binding on its own: a source that no longer exists cannot be connected.
    {
        ALSAMIDIPlatform direct;
        std::atomic<int> notifications = 0;
        platform::MIDIHandle client = 0;
        platform::MIDIHandle port = 0;
        direct.clientCreate("Quenlitor prueba directa", client, [&] { ++notifications; });
        direct.inputPortCreate(client, "Entrada directa", port, [](platform::MIDIPacketList, std::uintptr_t) {}, {});
        const int gone = keyboards.createPort("Puerto efímero");
        platform::MIDIHandle endpoint = 0;
        const std::size_t count = direct.numberOfSources();
        for (std::size_t i = 0; i < count; ++i) {
            if (direct.displayName(direct.source(i)) == "Teclado de prueba: Puerto efímero") {
                endpoint = direct.source(i);
            }
        }
        keyboards.deletePort(gone);
        // Refused by the kernel until the reader has taken in the port's exit, by the binding after.
        std::vector<platform::MIDIStatus> statuses;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (endpoint != 0 && std::chrono::steady_clock::now() < deadline) {
            statuses.push_back(direct.portConnectSource(port, endpoint, 1));
            if (statuses.back() == -ENODEV || statuses.back() >= 0) {
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        // The exit is taken in before the setup callback runs, which may therefore come a little later.
        while (notifications == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        const bool refused = !statuses.empty() && statuses.back() == -ENODEV && notifications > 0 &&
                             std::ranges::all_of(statuses, [](platform::MIDIStatus status) { return status < 0; });
        check("vanished-source-refused", endpoint != 0 && refused,
              "endpoint " + std::to_string(endpoint) + ", " + std::to_string(statuses.size()) + " attempts" +
                  (statuses.empty() ? std::string()
                                    : ", first " + std::to_string(statuses.front()) + ", last " +
                                          std::to_string(statuses.back())));
        const platform::MIDIStatus wrongPort = direct.portConnectSource(port + 1000, endpoint, 1);
        check("wrong-port-refused", wrongPort == -EINVAL, "status " + std::to_string(wrongPort));
        direct.portDispose(port);
        direct.clientDispose(client);
    }

    // Notes keep flowing, complete and in order, while the main thread rescans the sequencer.
    {
        const auto keyboard = rig.sourceNamed(firstPort);
        const int port = keyboardPort;
        if (keyboard && rig.service->connected().contains(keyboard->endpoint)) {
            constexpr int rounds = 20;
            constexpr int perRound = 20;
            std::atomic<bool> sent = false;
            std::thread player([&] {
                for (int round = 0; round < rounds; ++round) {
                    for (int i = 0; i < perRound; i += 2) {
                        keyboards.note(port, true, 30 + i, 2);
                        keyboards.note(port, false, 30 + i, 2);
                    }
                    // Paced, so the kernel's input queue of the service never overflows.
                    std::this_thread::sleep_for(10ms);
                }
                sent = true;
            });
            rig.runUntil([&] {
                rig.service->refresh();
                return sent && rig.messages.size() >= rounds * perRound;
            });
            player.join();
            rig.runFor(100ms);
            std::vector<std::string> expected;
            for (int round = 0; round < rounds; ++round) {
                for (int i = 0; i < perRound; i += 2) {
                    expected.push_back(from(("noteOn " + std::to_string(30 + i) + " 2").c_str(), keyboard->endpoint));
                    expected.push_back(from(("noteOff " + std::to_string(30 + i) + " 2").c_str(), keyboard->endpoint));
                }
            }
            check("notes-during-rescans", rig.messages == expected,
                  std::to_string(rig.messages.size()) + " of " + std::to_string(expected.size()) +
                      " messages, or out of order");
            rig.messages.clear();
            rig.gestures.clear();
        } else {
            fail("notes-during-rescans", "the keyboard is not listed: " + rig.sourceList());
        }
    }

    // A virtual MIDI device: raw bytes, running status included, go through the kernel's own
    // parser and come back out of the binding as the same messages.
    if (const auto device = virmidiDevice()) {
        std::optional<MIDISourceInfo> virmidi;
        rig.runUntil([&] {
            for (const MIDISourceInfo& source : rig.service->sources()) {
                if (source.name.find("VirMIDI") != std::string::npos && rig.service->connected().contains(source.endpoint)) {
                    virmidi = source;
                }
            }
            return virmidi.has_value();
        });
        const int fd = ::open(device->c_str(), O_WRONLY | O_CLOEXEC);
        if (check("virmidi-listed", virmidi && fd >= 0, *device + " fd " + std::to_string(fd) + " " + rig.sourceList())) {
            info("virmidi source: " + virmidi->name);
            const std::uint8_t bytes[] = {0x90, 60, 100, 64, 100, 0x80, 60, 0, 0x90, 64, 0};
            const bool written = ::write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
            rig.runUntil([&] { return rig.messages.size() >= 4; });
            const std::vector<std::string> expected{
                from("noteOn 60 0", virmidi->endpoint), from("noteOn 64 0", virmidi->endpoint),
                from("noteOff 60 0", virmidi->endpoint), from("noteOff 64 0", virmidi->endpoint)};
            check("virmidi-bytes", written && rig.messages == expected, "got " + join(rig.messages));
            check("virmidi-gesture", rig.gestures == std::vector<std::vector<std::ptrdiff_t>>{{60, 64}},
                  "got " + std::to_string(rig.gestures.size()) + " gestures");
            rig.messages.clear();
            rig.gestures.clear();
        }
        if (fd >= 0) {
            ::close(fd);
        }
    } else if (expectVirmidi) {
        fail("virmidi-listed", "no snd-virmidi card in /proc/asound");
    } else {
        info("no snd-virmidi card: raw MIDI check left out");
    }

    // Stopped: the client is gone from the kernel and nothing more is delivered.
    {
        const std::vector<MIDISourceInfo> before = rig.service->sources();
        rig.service->stop();
        keyboards.note(keyboardPort, true, 50, 0);
        rig.runFor(200ms);
        check("stop-closes-client", !keyboards.portsOf("Quenlitor MIDI a Texto"),
              "the service's client is still in the kernel");
        check("stop-delivers-nothing", rig.messages.empty() && rig.service->connected().empty() &&
                                           rig.service->sources() == before,
              "got " + join(rig.messages));
    }

    // Started again: a new client, and for the same keyboard a new endpoint under the same id.
    {
        const auto before = rig.sourceNamed(firstPort);
        rig.errors.clear();
        rig.service->start();
        const auto after = rig.waitConnected(firstPort);
        check("restart-reconnects", before && after && after->endpoint != before->endpoint &&
                                        after->uniqueID == before->uniqueID && rig.errors.empty(),
              "sources " + rig.sourceList() + ", errors " + join(rig.errors));
        std::weak_ptr<MIDIInputService> weak = rig.service;
        rig.service.reset();
        check("release-closes-client", weak.expired() && !keyboards.portsOf("Quenlitor MIDI a Texto"),
              "the service's client outlived the service");
    }
}

} // namespace
} // namespace quenlitor

int main(int argc, char** argv) {
    bool expectVirmidi = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--expect-virmidi") == 0) {
            expectVirmidi = true;
        } else {
            std::fprintf(stderr, "usage: %s [--expect-virmidi]\n", argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (::access("/dev/snd/seq", F_OK) != 0) {
        std::printf("ALSA-CHECK SKIPPED: this machine has no ALSA sequencer (/dev/snd/seq is missing)\n");
        return 0;
    }
    const auto started = std::chrono::steady_clock::now();
    quenlitor::run(expectVirmidi);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("ALSA-CHECK INFO checks took %lld ms\n", static_cast<long long>(elapsed.count()));
    std::printf("ALSA-CHECK DONE %s\n", quenlitor::failures == 0 ? "ok" : "failed");
    return quenlitor::failures == 0 ? 0 : 1;
}
