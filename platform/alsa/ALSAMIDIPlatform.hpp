#pragma once

#include "ALSASourceIdentity.hpp"
#include "platform/MIDIPlatform.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// alsa-lib's handles, declared as <alsa/asoundlib.h> does, so that users of the binding do not
// take in its macros.
extern "C" {
typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;
}
struct pollfd;

namespace quenlitor::platform::alsa {

// The MIDI platform on the ALSA sequencer (/dev/snd/seq).
//
// The client is one sequencer client and the input port one writable, subscribable application
// port that other programs' lists do not show (SND_SEQ_PORT_CAP_NO_EXPORT); connecting a source
// subscribes the port to it. Setup changes are learnt from the System:Announce port, to which the
// input port subscribes as well, so they are reported while the port is open. Sources are the
// readable, subscribable ports of every other client except the system client.
//
// A reader thread started with the port waits on the sequencer and an eventfd, turns the events of
// connected sources back into MIDI bytes (every message with its status byte) and calls the read
// callback with one batch per run of events from one source, then the setup callback once for the
// announcements among them. Disposing of the port stops and joins it, so no callback runs after
// portDispose() returns; portDispose() and clientDispose() must therefore not be called from the
// callbacks.
//
// An endpoint handle names one port for as long as it exists: a port that goes away and comes back
// at the same client and port numbers, or whose names change, gets a new handle, and handles are
// never given out twice. Its unique id comes from its names alone (see ALSASourceIdentity.hpp).
//
// Failures are ALSA's negative error numbers. Every operation is safe against the reader thread;
// one mutex serialises every use of the sequencer handle, which alsa-lib does not do itself.
class ALSAMIDIPlatform final : public MIDIPlatform {
public:
    ALSAMIDIPlatform() = default;
    // Closes whatever is still open.
    ~ALSAMIDIPlatform() override;

    ALSAMIDIPlatform(const ALSAMIDIPlatform&) = delete;
    ALSAMIDIPlatform& operator=(const ALSAMIDIPlatform&) = delete;

    // One client at a time: -EBUSY while one is open.
    MIDIStatus clientCreate(std::string_view name, MIDIHandle& client, SetupCallback onSetupChange) override;
    // One port per client: -EBUSY while one is open.
    MIDIStatus inputPortCreate(MIDIHandle client, std::string_view name, MIDIHandle& port, ReadCallback onRead,
                               ReadFailureCallback onReadFailure) override;
    // Re-reads the sequencer's ports; source() and the properties answer from this list.
    std::size_t numberOfSources() override;
    MIDIHandle source(std::size_t index) override;
    std::optional<std::string> displayName(MIDIHandle endpoint) override;
    MIDIUniqueID uniqueID(MIDIHandle endpoint) override;
    // -ENODEV when `endpoint` is no longer there.
    MIDIStatus portConnectSource(MIDIHandle port, MIDIHandle endpoint, std::uintptr_t connectionReference) override;
    MIDIStatus portDisconnectSource(MIDIHandle port, MIDIHandle endpoint) override;
    void portDispose(MIDIHandle port) override;
    void clientDispose(MIDIHandle client) override;
    std::string explainStatus(MIDIStatus status) override;

    // The sequencer client number of the open client, or -1.
    int sequencerClient() const;

private:
    // A port's place in the sequencer.
    struct Address {
        int client;
        int port;
        auto operator<=>(const Address&) const = default;
    };
    struct Endpoint {
        Address address;
        std::string clientName;
        std::string portName;
        std::string displayName;
        std::int32_t uniqueID;
    };
    struct Subscription {
        MIDIHandle endpoint;
        std::uintptr_t reference;
    };
    // One run of consecutive events from one source, turned into bytes: complete messages one
    // after another, handed over as one packet.
    struct Batch {
        std::uintptr_t reference = 0;
        std::vector<std::uint8_t> bytes;
    };

    // The pieces of an input port, released in reverse order unless the port takes them over.
    struct PortParts {
        int sequencerPort = -1;
        snd_midi_event_t* coder = nullptr;
        int wakeFd = -1;
        std::vector<pollfd> descriptors;
    };
    // A source port as the sequencer lists it now.
    struct FoundPort {
        Address address;
        SourcePortNames names;
    };

    MIDIStatus openPortParts(const std::string& name, PortParts& parts);
    void releasePortParts(PortParts& parts);
    void closePort();
    // Reads the sources again: sourcePorts, retireChangedPorts, listSources.
    void scan();
    std::vector<FoundPort> sourcePorts() const;
    void retireChangedPorts(const std::vector<FoundPort>& found);
    void listSources(const std::vector<FoundPort>& found);
    void retire(Address address, bool portStillExists);
    bool isLive(MIDIHandle endpoint, const Endpoint& info) const;
    void readLoop(std::stop_token stop, std::vector<pollfd> descriptors) noexcept;
    void reportReadFailure(const std::stop_token& stop, MIDIStatus status) noexcept;
    bool drain(std::vector<Batch>& batches, std::size_t& used, bool& setupChanged);
    void announce(int type, Address address, bool& setupChanged);

    // Guards every member below and every call on m_seq, from either thread.
    mutable std::mutex m_mutex;
    snd_seq_t* m_seq = nullptr;
    int m_sequencerClient = -1;
    int m_sequencerPort = -1;
    MIDIHandle m_client = 0;
    MIDIHandle m_port = 0;
    // Shared by clients, ports and endpoints, so no handle is ever given out twice.
    MIDIHandle m_nextHandle = 1;
    // Set before the reader starts and cleared after it is joined, so it reads them unlocked.
    SetupCallback m_onSetupChange;
    ReadCallback m_onRead;
    ReadFailureCallback m_onReadFailure;
    snd_midi_event_t* m_coder = nullptr;
    int m_wakeFd = -1;
    // The endpoint now standing for each port that still exists as far as the binding knows.
    std::map<Address, MIDIHandle> m_live;
    // What is known of every endpoint of the last scan, including those gone since.
    std::map<MIDIHandle, Endpoint> m_endpoints;
    // The last scan's endpoints, in enumeration order.
    std::vector<MIDIHandle> m_listed;
    // The connected ports, each with the endpoint it was connected as.
    std::map<Address, Subscription> m_subscriptions;
    // Runs from inputPortCreate() until closePort() wakes and joins it.
    std::jthread m_reader;
};

} // namespace quenlitor::platform::alsa
