#pragma once

#include "platform/MIDIPlatform.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor::platform::memory {

// A machine's MIDI setup kept in memory, for tests and tools that run without MIDI hardware. The
// test programs the sources and the statuses each operation returns, delivers bytes from any
// thread, fires setup notifications, and inspects the calls made and the connections left open.
// Changing the sources does not notify by itself: call notifySetupChange() as a platform would.
// Every member is safe to call from any thread.
class MemoryMIDIPlatform final : public MIDIPlatform {
public:
    // Returned for a client, port or endpoint that is not open or does not exist.
    static constexpr MIDIStatus invalidHandle = -22;

    // One position of the source enumeration.
    struct Source {
        // 0 makes the position yield no endpoint.
        MIDIHandle endpoint = 0;
        // None: the source has no display name.
        std::optional<std::string> name;
        // What reading the unique id returns; a non-zero status makes the read fail.
        MIDIUniqueID uniqueID{0, 0};
    };

    // The operations of MIDIPlatform, recording each call (see calls()).
    MIDIStatus clientCreate(std::string_view name, MIDIHandle& client, SetupCallback onSetupChange) override;
    MIDIStatus inputPortCreate(MIDIHandle client, std::string_view name, MIDIHandle& port, ReadCallback onRead,
                               ReadFailureCallback onReadFailure) override;
    std::size_t numberOfSources() override;
    MIDIHandle source(std::size_t index) override;
    std::optional<std::string> displayName(MIDIHandle endpoint) override;
    MIDIUniqueID uniqueID(MIDIHandle endpoint) override;
    MIDIStatus portConnectSource(MIDIHandle port, MIDIHandle endpoint, std::uintptr_t connectionReference) override;
    MIDIStatus portDisconnectSource(MIDIHandle port, MIDIHandle endpoint) override;
    void portDispose(MIDIHandle port) override;
    void clientDispose(MIDIHandle client) override;
    // "Estado N.": the in-memory platform has no system to ask.
    std::string explainStatus(MIDIStatus status) override;

    // Replaces the enumeration; a source no longer present loses its connections.
    void setSources(std::vector<Source> sources);
    // Appends a source at the end of the enumeration, as when a device is plugged in.
    void addSource(Source source);
    // Takes a source out of the enumeration and drops its connections, as unplugging does.
    void removeSource(MIDIHandle endpoint);

    // Makes every later clientCreate (or inputPortCreate) fail with `status`; 0 lets it succeed.
    void setClientCreateStatus(MIDIStatus status);
    void setPortCreateStatus(MIDIStatus status);
    // Makes every later connection of `endpoint` fail with `status`; 0 lets it succeed.
    void setConnectStatus(MIDIHandle endpoint, MIDIStatus status);

    // Calls the setup callback of every open client, on the calling thread.
    void notifySetupChange();
    // Hands `packets` as one packet list to the read callback of every open port that `endpoint`
    // is connected to, on the calling thread, with that connection's reference value. False when
    // no port received them.
    bool deliver(MIDIHandle endpoint, const std::vector<std::vector<std::uint8_t>>& packets);
    // Calls the read-failure callback of every open port with `status`, on the calling thread, as
    // a binding whose connection to the system broke.
    void failReading(MIDIStatus status);

    // The last callbacks handed over, kept after disposal: what a platform thread still running
    // one would call.
    SetupCallback lastSetupCallback() const;
    ReadCallback lastReadCallback() const;

    // Each endpoint connected to an open port, with its connection reference value.
    std::map<MIDIHandle, std::uintptr_t> connections() const;
    std::size_t openClients() const;
    std::size_t openPorts() const;
    // One line per operation called, oldest first: the operation's name, its arguments separated
    // by spaces, and for creations "-> " and the status: "clientCreate Quenlitor MIDI a Texto -> 0".
    std::vector<std::string> calls() const;
    // How many recorded calls start with `operation` followed by a space or the end.
    std::size_t callCount(std::string_view operation) const;
    void clearCalls();

private:
    struct Port {
        MIDIHandle client;
        ReadCallback onRead;
        ReadFailureCallback onReadFailure;
        std::map<MIDIHandle, std::uintptr_t> connections;
    };

    const Source* find(MIDIHandle endpoint) const;
    void disconnectEverywhere(MIDIHandle endpoint);
    void record(std::string line);

    mutable std::mutex m_mutex;
    std::vector<Source> m_sources;
    std::map<MIDIHandle, SetupCallback> m_clients;
    std::map<MIDIHandle, Port> m_ports;
    std::map<MIDIHandle, MIDIStatus> m_connectStatus;
    MIDIStatus m_clientCreateStatus = 0;
    MIDIStatus m_portCreateStatus = 0;
    // Handles are never reused, so a stale one is always recognised as such.
    MIDIHandle m_nextHandle = 0x1000;
    SetupCallback m_lastSetupCallback;
    ReadCallback m_lastReadCallback;
    std::vector<std::string> m_calls;
};

} // namespace quenlitor::platform::memory
