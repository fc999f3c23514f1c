#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quenlitor::platform {

// 0 is success; anything else is the binding's own negative error number.
using MIDIStatus = std::int32_t;
// A client, port or source endpoint; 0 is none.
using MIDIHandle = std::uint32_t;

// The bytes of one packet, and one delivery of packets in arrival order. Both views are valid only
// during the read callback.
using MIDIPacket = std::span<const std::uint8_t>;
using MIDIPacketList = std::span<const MIDIPacket>;

// The result of reading a source's persistent id: `value` is meaningful only when `status` is 0.
struct MIDIUniqueID {
    MIDIStatus status;
    std::int32_t value;
};

// The operating system's MIDI services as the input service needs them: one client, one input
// port, the list of sources and their properties, connections. Operations never throw; failures
// are statuses. Every operation but the two callbacks is called on the main thread.
class MIDIPlatform {
public:
    // Called on any thread, possibly concurrently with main-thread calls, whenever the MIDI setup
    // changes (sources appear, vanish or are renamed). Must not throw.
    using SetupCallback = std::function<void()>;
    // Called on the binding's MIDI thread with one batch of packets from one connected source and
    // the connection reference value given when it was connected. Must not throw.
    using ReadCallback = std::function<void(MIDIPacketList packets, std::uintptr_t connectionReference)>;
    // Called on the binding's MIDI thread when the port can no longer read from the system (the
    // sequencer reported an error or went away), with the reason; no batch follows. The client
    // must be disposed of and created again. Must not throw.
    using ReadFailureCallback = std::function<void(MIDIStatus status)>;

    virtual ~MIDIPlatform() = default;

    // Opens a client named `name`; on success stores a non-zero handle in `client` and calls
    // `onSetupChange` after every setup change until the client is disposed of.
    virtual MIDIStatus clientCreate(std::string_view name, MIDIHandle& client, SetupCallback onSetupChange) = 0;
    // Opens an input port named `name` on `client`; on success stores a non-zero handle in `port`
    // and hands every batch from its connected sources to `onRead` until the port is disposed of,
    // or calls `onReadFailure` once when reading stops for good.
    virtual MIDIStatus inputPortCreate(MIDIHandle client, std::string_view name, MIDIHandle& port, ReadCallback onRead,
                                       ReadFailureCallback onReadFailure) = 0;
    // How many sources the machine has now.
    virtual std::size_t numberOfSources() = 0;
    // The endpoint at `index` (below numberOfSources()), or 0 when that index yields none.
    virtual MIDIHandle source(std::size_t index) = 0;
    // The name to show for `endpoint`, if it has one.
    virtual std::optional<std::string> displayName(MIDIHandle endpoint) = 0;
    // The id under which `endpoint` is known across unplugging and restarts.
    virtual MIDIUniqueID uniqueID(MIDIHandle endpoint) = 0;
    // Starts delivering `endpoint`'s packets to `port`'s read callback with `connectionReference`.
    virtual MIDIStatus portConnectSource(MIDIHandle port, MIDIHandle endpoint, std::uintptr_t connectionReference) = 0;
    // Stops delivering `endpoint`'s packets to `port`. Batches already handed over still arrive.
    virtual MIDIStatus portDisconnectSource(MIDIHandle port, MIDIHandle endpoint) = 0;
    // Closes `port`, dropping its connections. Its read callback may still be running on return.
    virtual void portDispose(MIDIHandle port) = 0;
    // Closes `client` and any port still open on it.
    virtual void clientDispose(MIDIHandle client) = 0;
    // For the user, in Spanish: the system's reason for a failure with `status` and, where one
    // helps, what to do about it.
    virtual std::string explainStatus(MIDIStatus status) = 0;
};

} // namespace quenlitor::platform
