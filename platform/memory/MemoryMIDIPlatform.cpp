#include "MemoryMIDIPlatform.hpp"

#include <algorithm>
#include <span>
#include <utility>

namespace quenlitor::platform::memory {

namespace {

std::string line(std::string_view operation, std::initializer_list<std::string> arguments) {
    std::string text(operation);
    for (const std::string& argument : arguments) {
        text += ' ';
        text += argument;
    }
    return text;
}

std::string number(std::uint64_t value) { return std::to_string(value); }

} // namespace

MIDIStatus MemoryMIDIPlatform::clientCreate(std::string_view name, MIDIHandle& client, SetupCallback onSetupChange) {
    const std::lock_guard lock(m_mutex);
    const MIDIStatus status = m_clientCreateStatus;
    record(line("clientCreate", {std::string(name), "->", std::to_string(status)}));
    if (status != 0) {
        return status;
    }
    client = m_nextHandle++;
    m_lastSetupCallback = onSetupChange;
    m_clients.emplace(client, std::move(onSetupChange));
    return 0;
}

MIDIStatus MemoryMIDIPlatform::inputPortCreate(MIDIHandle client, std::string_view name, MIDIHandle& port,
                                               ReadCallback onRead, ReadFailureCallback onReadFailure) {
    const std::lock_guard lock(m_mutex);
    const MIDIStatus status = !m_clients.contains(client) ? invalidHandle : m_portCreateStatus;
    record(line("inputPortCreate", {number(client), std::string(name), "->", std::to_string(status)}));
    if (status != 0) {
        return status;
    }
    port = m_nextHandle++;
    m_lastReadCallback = onRead;
    m_ports.emplace(port, Port{client, std::move(onRead), std::move(onReadFailure), {}});
    return 0;
}

std::size_t MemoryMIDIPlatform::numberOfSources() {
    const std::lock_guard lock(m_mutex);
    record("numberOfSources");
    return m_sources.size();
}

MIDIHandle MemoryMIDIPlatform::source(std::size_t index) {
    const std::lock_guard lock(m_mutex);
    record(line("source", {number(index)}));
    return index < m_sources.size() ? m_sources[index].endpoint : 0;
}

std::optional<std::string> MemoryMIDIPlatform::displayName(MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    record(line("displayName", {number(endpoint)}));
    const Source* source = find(endpoint);
    return source != nullptr ? source->name : std::nullopt;
}

MIDIUniqueID MemoryMIDIPlatform::uniqueID(MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    record(line("uniqueID", {number(endpoint)}));
    const Source* source = find(endpoint);
    return source != nullptr ? source->uniqueID : MIDIUniqueID{invalidHandle, 0};
}

MIDIStatus MemoryMIDIPlatform::portConnectSource(MIDIHandle port, MIDIHandle endpoint,
                                                 std::uintptr_t connectionReference) {
    const std::lock_guard lock(m_mutex);
    MIDIStatus status = 0;
    const auto open = m_ports.find(port);
    if (open == m_ports.end() || find(endpoint) == nullptr) {
        status = invalidHandle;
    } else if (const auto programmed = m_connectStatus.find(endpoint); programmed != m_connectStatus.end()) {
        status = programmed->second;
    }
    record(line("portConnectSource", {number(port), number(endpoint), number(connectionReference), "->",
                                      std::to_string(status)}));
    if (status == 0) {
        open->second.connections[endpoint] = connectionReference;
    }
    return status;
}

MIDIStatus MemoryMIDIPlatform::portDisconnectSource(MIDIHandle port, MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    record(line("portDisconnectSource", {number(port), number(endpoint)}));
    const auto open = m_ports.find(port);
    if (open == m_ports.end() || open->second.connections.erase(endpoint) == 0) {
        return invalidHandle;
    }
    return 0;
}

void MemoryMIDIPlatform::portDispose(MIDIHandle port) {
    const std::lock_guard lock(m_mutex);
    record(line("portDispose", {number(port)}));
    m_ports.erase(port);
}

void MemoryMIDIPlatform::clientDispose(MIDIHandle client) {
    const std::lock_guard lock(m_mutex);
    record(line("clientDispose", {number(client)}));
    m_clients.erase(client);
    std::erase_if(m_ports, [&](const auto& entry) { return entry.second.client == client; });
}

void MemoryMIDIPlatform::setSources(std::vector<Source> sources) {
    const std::lock_guard lock(m_mutex);
    m_sources = std::move(sources);
    for (auto& [handle, port] : m_ports) {
        std::erase_if(port.connections, [&](const auto& connection) { return find(connection.first) == nullptr; });
    }
}

void MemoryMIDIPlatform::addSource(Source source) {
    const std::lock_guard lock(m_mutex);
    m_sources.push_back(std::move(source));
}

void MemoryMIDIPlatform::removeSource(MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_sources, [&](const Source& source) { return source.endpoint == endpoint; });
    disconnectEverywhere(endpoint);
}

void MemoryMIDIPlatform::setClientCreateStatus(MIDIStatus status) {
    const std::lock_guard lock(m_mutex);
    m_clientCreateStatus = status;
}

void MemoryMIDIPlatform::setPortCreateStatus(MIDIStatus status) {
    const std::lock_guard lock(m_mutex);
    m_portCreateStatus = status;
}

void MemoryMIDIPlatform::setConnectStatus(MIDIHandle endpoint, MIDIStatus status) {
    const std::lock_guard lock(m_mutex);
    m_connectStatus[endpoint] = status;
}

void MemoryMIDIPlatform::notifySetupChange() {
    std::vector<SetupCallback> callbacks;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [client, callback] : m_clients) {
            callbacks.push_back(callback);
        }
    }
    // Unlocked, as a platform's notification thread would call: the callback may call back in.
    for (const SetupCallback& callback : callbacks) {
        if (callback) {
            callback();
        }
    }
}

bool MemoryMIDIPlatform::deliver(MIDIHandle endpoint, const std::vector<std::vector<std::uint8_t>>& packets) {
    std::vector<std::pair<ReadCallback, std::uintptr_t>> receivers;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [handle, port] : m_ports) {
            if (const auto connection = port.connections.find(endpoint); connection != port.connections.end()) {
                receivers.emplace_back(port.onRead, connection->second);
            }
        }
    }
    std::vector<MIDIPacket> list(packets.begin(), packets.end());
    for (const auto& [callback, reference] : receivers) {
        if (callback) {
            callback(list, reference);
        }
    }
    return !receivers.empty();
}

void MemoryMIDIPlatform::failReading(MIDIStatus status) {
    std::vector<ReadFailureCallback> receivers;
    {
        const std::lock_guard lock(m_mutex);
        for (const auto& [handle, port] : m_ports) {
            receivers.push_back(port.onReadFailure);
        }
    }
    for (const ReadFailureCallback& callback : receivers) {
        if (callback) {
            callback(status);
        }
    }
}

std::string MemoryMIDIPlatform::explainStatus(MIDIStatus status) { return "Estado " + std::to_string(status) + "."; }

MIDIPlatform::SetupCallback MemoryMIDIPlatform::lastSetupCallback() const {
    const std::lock_guard lock(m_mutex);
    return m_lastSetupCallback;
}

MIDIPlatform::ReadCallback MemoryMIDIPlatform::lastReadCallback() const {
    const std::lock_guard lock(m_mutex);
    return m_lastReadCallback;
}

std::map<MIDIHandle, std::uintptr_t> MemoryMIDIPlatform::connections() const {
    const std::lock_guard lock(m_mutex);
    std::map<MIDIHandle, std::uintptr_t> all;
    for (const auto& [handle, port] : m_ports) {
        all.insert(port.connections.begin(), port.connections.end());
    }
    return all;
}

std::size_t MemoryMIDIPlatform::openClients() const {
    const std::lock_guard lock(m_mutex);
    return m_clients.size();
}

std::size_t MemoryMIDIPlatform::openPorts() const {
    const std::lock_guard lock(m_mutex);
    return m_ports.size();
}

std::vector<std::string> MemoryMIDIPlatform::calls() const {
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

std::size_t MemoryMIDIPlatform::callCount(std::string_view operation) const {
    const std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::ranges::count_if(m_calls, [&](std::string_view call) {
        return call.starts_with(operation) && (call.size() == operation.size() || call[operation.size()] == ' ');
    }));
}

void MemoryMIDIPlatform::clearCalls() {
    const std::lock_guard lock(m_mutex);
    m_calls.clear();
}

const MemoryMIDIPlatform::Source* MemoryMIDIPlatform::find(MIDIHandle endpoint) const {
    if (endpoint == 0) {
        return nullptr;
    }
    const auto found = std::ranges::find(m_sources, endpoint, &Source::endpoint);
    return found != m_sources.end() ? &*found : nullptr;
}

void MemoryMIDIPlatform::disconnectEverywhere(MIDIHandle endpoint) {
    for (auto& [handle, port] : m_ports) {
        port.connections.erase(endpoint);
    }
}

void MemoryMIDIPlatform::record(std::string call) { m_calls.push_back(std::move(call)); }

} // namespace quenlitor::platform::memory
