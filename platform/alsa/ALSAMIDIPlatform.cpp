#include "ALSAMIDIPlatform.hpp"

#include "ALSASourceIdentity.hpp"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

namespace quenlitor::platform::alsa {

namespace {

constexpr unsigned int sourceCapabilities = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned int inputPortCapabilities =
    SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT;
constexpr unsigned int inputPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
// The reader drains at most this many events per hold of the lock, so a flood of notes cannot keep
// the main thread out of the sequencer.
constexpr std::size_t eventsPerRound = 256;
// Enough for any MIDI message but a system-exclusive one, which is sized by its event.
constexpr std::size_t shortMessageRoom = 16;

// alsa-lib prints its errors to standard error by default; the binding reports them as statuses.
void ignoreLibraryError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

ALSAMIDIPlatform::~ALSAMIDIPlatform() { clientDispose(m_client); }

MIDIStatus ALSAMIDIPlatform::clientCreate(std::string_view name, MIDIHandle& client, SetupCallback onSetupChange) {
    try {
        const std::string clientName(name);
        const std::lock_guard lock(m_mutex);
        if (m_seq != nullptr) {
            return -EBUSY;
        }
        static std::once_flag quiet;
        std::call_once(quiet, [] { snd_lib_error_set_handler(ignoreLibraryError); });
        snd_seq_t* seq = nullptr;
        // Non-blocking, so the reader can drain the input until it is empty.
        int status = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        if (status < 0) {
            return status;
        }
        status = snd_seq_set_client_name(seq, clientName.c_str());
        if (status < 0) {
            snd_seq_close(seq);
            return status;
        }
        m_seq = seq;
        m_sequencerClient = snd_seq_client_id(seq);
        m_onSetupChange = std::move(onSetupChange);
        m_client = m_nextHandle++;
        client = m_client;
        return 0;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
}

MIDIStatus ALSAMIDIPlatform::inputPortCreate(MIDIHandle client, std::string_view name, MIDIHandle& port,
                                             ReadCallback onRead, ReadFailureCallback onReadFailure) {
    try {
        const std::string portName(name);
        const std::lock_guard lock(m_mutex);
        if (m_seq == nullptr || client == 0 || client != m_client) {
            return -EINVAL;
        }
        if (m_port != 0) {
            return -EBUSY;
        }
        PortParts parts;
        if (const MIDIStatus status = openPortParts(portName, parts); status != 0) {
            releasePortParts(parts);
            return status;
        }
        m_onRead = std::move(onRead);
        m_onReadFailure = std::move(onReadFailure);
        try {
            m_reader = std::jthread([this, descriptors = std::move(parts.descriptors)](std::stop_token stop) mutable {
                readLoop(std::move(stop), std::move(descriptors));
            });
        } catch (...) {
            // std::system_error when the system has no thread to spare, std::bad_alloc otherwise.
            m_onRead = nullptr;
            m_onReadFailure = nullptr;
            releasePortParts(parts);
            return -EAGAIN;
        }
        m_coder = parts.coder;
        m_wakeFd = parts.wakeFd;
        m_sequencerPort = parts.sequencerPort;
        m_port = m_nextHandle++;
        port = m_port;
        return 0;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
}

MIDIStatus ALSAMIDIPlatform::openPortParts(const std::string& name, PortParts& parts) {
    // Allocated first: nothing can fail for want of memory once the port exists.
    const int count = std::max(snd_seq_poll_descriptors_count(m_seq, POLLIN), 0);
    parts.descriptors.resize(static_cast<std::size_t>(count) + 1);
    parts.sequencerPort = snd_seq_create_simple_port(m_seq, name.c_str(), inputPortCapabilities, inputPortType);
    if (parts.sequencerPort < 0) {
        return parts.sequencerPort;
    }
    int status = snd_seq_connect_from(m_seq, parts.sequencerPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (status < 0) {
        return status;
    }
    // The coder's own buffer only serves encoding; decoding writes into ours.
    status = snd_midi_event_new(shortMessageRoom, &parts.coder);
    if (status < 0) {
        return status;
    }
    // Events of every source go through this one coder: running status would let one source's
    // status byte stand for another's.
    snd_midi_event_no_status(parts.coder, 1);
    parts.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (parts.wakeFd < 0) {
        return -errno;
    }
    const int filled = snd_seq_poll_descriptors(m_seq, parts.descriptors.data(), static_cast<unsigned int>(count), POLLIN);
    // Within the capacity reserved above.
    parts.descriptors.resize(static_cast<std::size_t>(std::clamp(filled, 0, count)));
    parts.descriptors.push_back({parts.wakeFd, POLLIN, 0});
    return 0;
}

void ALSAMIDIPlatform::releasePortParts(PortParts& parts) {
    if (parts.wakeFd >= 0) {
        ::close(parts.wakeFd);
    }
    if (parts.coder != nullptr) {
        snd_midi_event_free(parts.coder);
    }
    if (parts.sequencerPort >= 0) {
        snd_seq_delete_simple_port(m_seq, parts.sequencerPort);
    }
    parts = PortParts{};
}

std::size_t ALSAMIDIPlatform::numberOfSources() {
    const std::lock_guard lock(m_mutex);
    if (m_seq == nullptr) {
        return 0;
    }
    try {
        scan();
    } catch (const std::bad_alloc&) {
        m_listed.clear();
    }
    return m_listed.size();
}

MIDIHandle ALSAMIDIPlatform::source(std::size_t index) {
    const std::lock_guard lock(m_mutex);
    return index < m_listed.size() ? m_listed[index] : 0;
}

std::optional<std::string> ALSAMIDIPlatform::displayName(MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_endpoints.find(endpoint);
    if (found == m_endpoints.end()) {
        return std::nullopt;
    }
    try {
        return found->second.displayName;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

MIDIUniqueID ALSAMIDIPlatform::uniqueID(MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_endpoints.find(endpoint);
    return found != m_endpoints.end() ? MIDIUniqueID{0, found->second.uniqueID} : MIDIUniqueID{-ENODEV, 0};
}

MIDIStatus ALSAMIDIPlatform::portConnectSource(MIDIHandle port, MIDIHandle endpoint, std::uintptr_t connectionReference) {
    const std::lock_guard lock(m_mutex);
    if (m_seq == nullptr || port == 0 || port != m_port) {
        return -EINVAL;
    }
    const auto found = m_endpoints.find(endpoint);
    if (found == m_endpoints.end() || !isLive(endpoint, found->second)) {
        return -ENODEV;
    }
    const Address address = found->second.address;
    int status = snd_seq_connect_from(m_seq, m_sequencerPort, address.client, address.port);
    if (status == -EBUSY) {
        // Already subscribed: a port whose names changed is connected again under its new endpoint.
        // -EBUSY also answers a port that someone holds exclusively, which stays a failure.
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca(&subscription);
        const snd_seq_addr_t sender{static_cast<unsigned char>(address.client), static_cast<unsigned char>(address.port)};
        const snd_seq_addr_t dest{static_cast<unsigned char>(m_sequencerClient),
                                  static_cast<unsigned char>(m_sequencerPort)};
        snd_seq_port_subscribe_set_sender(subscription, &sender);
        snd_seq_port_subscribe_set_dest(subscription, &dest);
        if (snd_seq_get_port_subscription(m_seq, subscription) == 0) {
            status = 0;
        }
    }
    if (status < 0) {
        return status;
    }
    try {
        m_subscriptions.insert_or_assign(address, Subscription{endpoint, connectionReference});
    } catch (const std::bad_alloc&) {
        snd_seq_disconnect_from(m_seq, m_sequencerPort, address.client, address.port);
        return -ENOMEM;
    }
    return 0;
}

MIDIStatus ALSAMIDIPlatform::portDisconnectSource(MIDIHandle port, MIDIHandle endpoint) {
    const std::lock_guard lock(m_mutex);
    if (m_seq == nullptr || port == 0 || port != m_port) {
        return -EINVAL;
    }
    const auto found = std::ranges::find(m_subscriptions, endpoint,
                                         [](const auto& entry) { return entry.second.endpoint; });
    if (found == m_subscriptions.end()) {
        // Never connected, or its port has gone and took the subscription with it.
        return -ENOENT;
    }
    const Address address = found->first;
    // Forgotten even if the sequencer refuses, so nothing more is delivered under its reference.
    m_subscriptions.erase(found);
    return snd_seq_disconnect_from(m_seq, m_sequencerPort, address.client, address.port);
}

void ALSAMIDIPlatform::portDispose(MIDIHandle port) {
    if (port == 0 || port != m_port) {
        return;
    }
    closePort();
}

void ALSAMIDIPlatform::clientDispose(MIDIHandle client) {
    if (client == 0 || client != m_client) {
        return;
    }
    if (m_port != 0) {
        closePort();
    }
    const std::lock_guard lock(m_mutex);
    snd_seq_close(m_seq);
    m_seq = nullptr;
    m_sequencerClient = -1;
    m_client = 0;
    m_onSetupChange = nullptr;
    // Nothing is announced to a closed client: a later client must not trust these addresses.
    m_live.clear();
    m_endpoints.clear();
    m_listed.clear();
}

int ALSAMIDIPlatform::sequencerClient() const {
    const std::lock_guard lock(m_mutex);
    return m_sequencerClient;
}

void ALSAMIDIPlatform::closePort() {
    if (m_reader.joinable()) {
        m_reader.request_stop();
        const std::uint64_t wake = 1;
        while (::write(m_wakeFd, &wake, sizeof wake) < 0 && errno == EINTR) {
        }
        m_reader.join();
    }
    const std::lock_guard lock(m_mutex);
    // Deleting the port ends its subscriptions, System:Announce's included.
    snd_seq_delete_simple_port(m_seq, m_sequencerPort);
    m_sequencerPort = -1;
    m_subscriptions.clear();
    snd_midi_event_free(m_coder);
    m_coder = nullptr;
    ::close(m_wakeFd);
    m_wakeFd = -1;
    m_onRead = nullptr;
    m_onReadFailure = nullptr;
    m_port = 0;
}

std::vector<ALSAMIDIPlatform::FoundPort> ALSAMIDIPlatform::sourcePorts() const {
    std::vector<FoundPort> found;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(m_seq, clientInfo) >= 0) {
        const int client = snd_seq_client_info_get_client(clientInfo);
        if (client == SND_SEQ_CLIENT_SYSTEM || client == m_sequencerClient) {
            continue;
        }
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
            const unsigned int capabilities = snd_seq_port_info_get_capability(portInfo);
            // A port its program keeps out of other programs' lists is not offered either.
            if ((capabilities & sourceCapabilities) != sourceCapabilities ||
                (capabilities & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
                continue;
            }
            found.push_back({{client, snd_seq_port_info_get_port(portInfo)},
                             {snd_seq_client_info_get_name(clientInfo), snd_seq_port_info_get_name(portInfo)}});
        }
    }
    // Ranks among identical names follow client and port numbers.
    std::ranges::sort(found, {}, &FoundPort::address);
    return found;
}

void ALSAMIDIPlatform::scan() {
    const std::vector<FoundPort> found = sourcePorts();
    retireChangedPorts(found);
    listSources(found);
}

// A port missed since the last look, or now called otherwise, is another port from now on: its
// address gets a new endpoint. (Announcements usually retire it before this.)
void ALSAMIDIPlatform::retireChangedPorts(const std::vector<FoundPort>& found) {
    std::vector<std::pair<Address, bool>> retired;
    for (const auto& [address, endpoint] : m_live) {
        const auto now = std::ranges::lower_bound(found, address, {}, &FoundPort::address);
        if (now == found.end() || now->address != address) {
            retired.emplace_back(address, false);
            continue;
        }
        const auto known = m_endpoints.find(endpoint);
        if (known == m_endpoints.end() || known->second.clientName != now->names.clientName ||
            known->second.portName != now->names.portName) {
            retired.emplace_back(address, true);
        }
    }
    for (const auto& [address, stillExists] : retired) {
        retire(address, stillExists);
    }
}

// Every found port gets its endpoint (a new one for an address not live yet) and its unique id.
void ALSAMIDIPlatform::listSources(const std::vector<FoundPort>& found) {
    std::vector<SourcePortNames> names;
    names.reserve(found.size());
    for (const FoundPort& port : found) {
        names.push_back(port.names);
    }
    const std::vector<std::int32_t> uniqueIDs = sourceUniqueIDs(names);

    std::map<MIDIHandle, Endpoint> endpoints;
    std::vector<MIDIHandle> listed;
    listed.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto [live, added] = m_live.try_emplace(found[i].address, 0);
        if (added) {
            live->second = m_nextHandle++;
        }
        endpoints.emplace(live->second, Endpoint{found[i].address, found[i].names.clientName, found[i].names.portName,
                                                 sourceDisplayName(found[i].names), uniqueIDs[i]});
        listed.push_back(live->second);
    }
    m_endpoints = std::move(endpoints);
    m_listed = std::move(listed);
}

void ALSAMIDIPlatform::retire(Address address, bool portStillExists) {
    m_live.erase(address);
    const auto subscription = m_subscriptions.find(address);
    if (subscription != m_subscriptions.end()) {
        if (portStillExists) {
            snd_seq_disconnect_from(m_seq, m_sequencerPort, address.client, address.port);
        }
        m_subscriptions.erase(subscription);
    }
}

bool ALSAMIDIPlatform::isLive(MIDIHandle endpoint, const Endpoint& info) const {
    const auto live = m_live.find(info.address);
    return live != m_live.end() && live->second == endpoint;
}

void ALSAMIDIPlatform::readLoop(std::stop_token stop, std::vector<pollfd> descriptors) noexcept {
    std::vector<Batch> batches;
    while (!stop.stop_requested()) {
        bool more = false;
        try {
            std::size_t used = 0;
            bool setupChanged = false;
            {
                const std::lock_guard lock(m_mutex);
                more = drain(batches, used, setupChanged);
            }
            // Unlocked: the callbacks may take their time, and the main thread keeps working.
            for (std::size_t i = 0; i < used; ++i) {
                const Batch& batch = batches[i];
                const MIDIPacket whole(batch.bytes);
                if (!whole.empty() && m_onRead) {
                    m_onRead(MIDIPacketList(&whole, 1), batch.reference);
                }
            }
            if (setupChanged && m_onSetupChange) {
                m_onSetupChange();
            }
        } catch (...) {
            // Out of memory, or a callback broke its promise: this round is lost, the next one
            // starts afresh.
        }
        if (more) {
            continue;
        }
        if (::poll(descriptors.data(), descriptors.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            reportReadFailure(stop, -errno);
            return;
        }
        for (std::size_t i = 0; i + 1 < descriptors.size(); ++i) {
            if ((descriptors[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                reportReadFailure(stop, -EIO);
                return;
            }
        }
    }
}

void ALSAMIDIPlatform::reportReadFailure(const std::stop_token& stop, MIDIStatus status) noexcept {
    // A port being closed is not a failure: nobody waits for its batches any more.
    if (!stop.stop_requested() && m_onReadFailure) {
        m_onReadFailure(status);
    }
}

std::string ALSAMIDIPlatform::explainStatus(MIDIStatus status) {
    std::string text = "El sistema dice: ";
    text += snd_strerror(status);
    text += ".";
    if (status == -ENOENT || status == -ENODEV) {
        // What snd_seq_open answers when /dev/snd/seq is missing.
        text += " El secuenciador MIDI de ALSA no está disponible: carga el módulo con "
                "«sudo modprobe snd-seq» (y, para que se cargue en cada arranque, añade snd-seq a "
                "/etc/modules) y luego elige «Actualizar lista».";
    }
    return text;
}

bool ALSAMIDIPlatform::drain(std::vector<Batch>& batches, std::size_t& used, bool& setupChanged) {
    for (std::size_t count = 0; count < eventsPerRound; ++count) {
        snd_seq_event_t* event = nullptr;
        const int status = snd_seq_event_input(m_seq, &event);
        if (status == -ENOSPC) {
            // The input overflowed and the sequencer dropped what was queued, announcements
            // perhaps among it: have the setup read again.
            setupChanged = true;
            continue;
        }
        if (status < 0 || event == nullptr) {
            return false;
        }
        if (event->source.client == SND_SEQ_CLIENT_SYSTEM && event->source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
            announce(event->type, {event->data.addr.client, event->data.addr.port}, setupChanged);
            continue;
        }
        const auto subscription = m_subscriptions.find({event->source.client, event->source.port});
        if (subscription == m_subscriptions.end()) {
            // Sent straight to the port by a program we never connected, or still in flight from
            // a source disconnected since.
            continue;
        }
        const std::uintptr_t reference = subscription->second.reference;
        if (used == 0 || batches[used - 1].reference != reference) {
            if (used == batches.size()) {
                batches.emplace_back();
            }
            Batch& batch = batches[used++];
            batch.reference = reference;
            batch.bytes.clear();
        }
        Batch& batch = batches[used - 1];
        const std::size_t begin = batch.bytes.size();
        const std::size_t room = snd_seq_ev_is_variable(event) ? event->data.ext.len : shortMessageRoom;
        batch.bytes.resize(begin + room);
        const long written =
            snd_midi_event_decode(m_coder, batch.bytes.data() + begin, static_cast<long>(room), event);
        // Events that are no MIDI message (queue control, echoes) decode to nothing.
        batch.bytes.resize(begin + static_cast<std::size_t>(std::max(written, 0L)));
    }
    return true;
}

void ALSAMIDIPlatform::announce(int type, Address address, bool& setupChanged) {
    if (address.client == m_sequencerClient) {
        return;
    }
    switch (type) {
    case SND_SEQ_EVENT_CLIENT_EXIT: {
        std::vector<Address> gone;
        for (const auto& [live, endpoint] : m_live) {
            if (live.client == address.client) {
                gone.push_back(live);
            }
        }
        for (const Address& port : gone) {
            retire(port, false);
        }
        setupChanged = true;
        break;
    }
    case SND_SEQ_EVENT_PORT_EXIT:
        retire(address, false);
        setupChanged = true;
        break;
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_START:
    case SND_SEQ_EVENT_PORT_CHANGE:
        setupChanged = true;
        break;
    default:
        // PORT_SUBSCRIBED and PORT_UNSUBSCRIBED follow our own connections: rescanning for them
        // would connect, announce and rescan without end.
        break;
    }
}

} // namespace quenlitor::platform::alsa
