#include "ALSASourceIdentity.hpp"

#include <bit>
#include <map>
#include <utility>

namespace quenlitor::platform::alsa {

std::uint32_t fnv1a32(std::string_view bytes, std::uint32_t hash) {
    for (const char byte : bytes) {
        hash ^= static_cast<std::uint8_t>(byte);
        hash *= 16777619u;
    }
    return hash;
}

std::int32_t sourceUniqueID(const SourcePortNames& names, std::size_t rank) {
    using namespace std::string_view_literals;
    std::uint32_t hash = fnv1a32(names.clientName);
    hash = fnv1a32("\0"sv, hash);
    hash = fnv1a32(names.portName, hash);
    hash = fnv1a32("\0"sv, hash);
    if (rank > 0) {
        hash = fnv1a32(std::to_string(rank), hash);
    }
    return std::bit_cast<std::int32_t>(hash);
}

std::vector<std::int32_t> sourceUniqueIDs(std::span<const SourcePortNames> ports) {
    std::map<std::pair<std::string_view, std::string_view>, std::size_t> seen;
    std::vector<std::int32_t> ids;
    ids.reserve(ports.size());
    for (const SourcePortNames& names : ports) {
        const std::size_t rank = seen[{names.clientName, names.portName}]++;
        ids.push_back(sourceUniqueID(names, rank));
    }
    return ids;
}

std::string sourceDisplayName(const SourcePortNames& names) {
    if (names.portName.empty()) {
        return names.clientName;
    }
    if (names.clientName.empty() || names.portName.starts_with(names.clientName)) {
        return names.portName;
    }
    return names.clientName + ": " + names.portName;
}

} // namespace quenlitor::platform::alsa
