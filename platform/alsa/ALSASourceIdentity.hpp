#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor::platform::alsa {

// How a sequencer port is told apart from the others across unplugging, replugging and
// restarting: by what it is called, never by the client and port numbers the kernel happens to
// give it. Nothing here talks to ALSA.

// The names of one source port, as the sequencer reports them.
struct SourcePortNames {
    std::string clientName;
    std::string portName;

    bool operator==(const SourcePortNames&) const = default;
};

// 32-bit FNV-1a of `bytes`, continuing from `hash`. Fixed by its definition, so a value stored by
// one build of the program is recognised by every later one.
std::uint32_t fnv1a32(std::string_view bytes, std::uint32_t hash = 2166136261u);

// The persistent id of a port called `names`, where `rank` ports with exactly the same client and
// port names come before it in client and port number order. Rank 0 hashes the two names alone
// (each followed by a NUL byte, which no sequencer name contains), so a single device keeps its id
// when a twin is plugged in after it; a higher rank appends its decimal digits.
std::int32_t sourceUniqueID(const SourcePortNames& names, std::size_t rank);

// The persistent ids of `ports`, given in ascending client and port number order.
std::vector<std::int32_t> sourceUniqueIDs(std::span<const SourcePortNames> ports);

// The name shown for a port: the port name alone when it already begins with its client's name
// (hardware ports usually do: "Keystation 49 MIDI 1"), else "client: port" so that a program's
// generic port names ("out") still say whose they are; the client name when the port has none.
std::string sourceDisplayName(const SourcePortNames& names);

} // namespace quenlitor::platform::alsa
