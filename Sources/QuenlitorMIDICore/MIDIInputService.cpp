#include "MIDIInputService.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <ostream>
#include <utility>

namespace quenlitor {

void PrintTo(const MIDISourceInfo& source, std::ostream* out) {
    *out << "{" << source.endpoint << ", " << source.uniqueID << ", \"" << source.name << "\"}";
}

namespace {

// A callback may replace or clear itself while it runs; running a copy keeps it alive meanwhile.
template <typename Callback, typename... Args>
void callIfSet(const Callback& callback, Args&&... args) {
    if (callback) {
        const Callback running = callback;
        running(std::forward<Args>(args)...);
    }
}

} // namespace

// Spanish, the language of every text the user sees: digits by numeric value and case ignored as
// in the root order, and ñ a letter of its own after n, where Spanish readers look for it. Without
// a collator from ICU, names are ordered by their bytes.
class MIDIInputService::NameOrder {
public:
    NameOrder() {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale("es"), status));
        if (U_FAILURE(status) || !collator) {
            return;
        }
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        // Secondary strength tells accents apart but not case.
        collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
        if (U_SUCCESS(status)) {
            m_collator = std::move(collator);
        }
    }

    void sort(std::vector<MIDISourceInfo>& sources) const {
        if (!m_collator) {
            std::ranges::stable_sort(sources, {}, &MIDISourceInfo::name);
            return;
        }
        std::ranges::stable_sort(sources, [&](const MIDISourceInfo& a, const MIDISourceInfo& b) {
            UErrorCode status = U_ZERO_ERROR;
            return m_collator->compareUTF8(a.name, b.name, status) == UCOL_LESS;
        });
    }

private:
    std::unique_ptr<icu::Collator> m_collator;
};

std::shared_ptr<MIDIInputService> MIDIInputService::create(std::shared_ptr<platform::MIDIPlatform> platform,
                                                           std::shared_ptr<platform::MainQueue> mainQueue,
                                                           SourceFilter sourceFilter) {
    return std::shared_ptr<MIDIInputService>(
        new MIDIInputService(std::move(platform), std::move(mainQueue), std::move(sourceFilter)));
}

MIDIInputService::MIDIInputService(std::shared_ptr<platform::MIDIPlatform> platform,
                                   std::shared_ptr<platform::MainQueue> mainQueue, SourceFilter filter)
    : sourceFilter(std::move(filter)), m_platform(std::move(platform)), m_mainQueue(std::move(mainQueue)),
      m_nameOrder(std::make_unique<NameOrder>()) {}

MIDIInputService::~MIDIInputService() { stop(); }

void MIDIInputService::start() {
    if (m_client != 0) {
        return;
    }
    // onError may drop the caller's last reference to the service.
    const auto self = shared_from_this();
    platform::MIDIHandle client = 0;
    const platform::MIDIStatus clientStatus = m_platform->clientCreate("Quenlitor MIDI a Texto", client, setupCallback());
    if (clientStatus != 0) {
        report("crear el cliente MIDI", clientStatus);
        return;
    }
    m_client = client;
    platform::MIDIHandle port = 0;
    const platform::MIDIStatus portStatus = m_platform->inputPortCreate(
        m_client, "Notas para Quenlitor Keyboard", port, readCallback(), readFailureCallback(++m_generation));
    if (portStatus != 0) {
        report("abrir la entrada MIDI", portStatus);
        stop();
        return;
    }
    m_port = port;
    refresh();
}

// The platform calls the callbacks below on its own threads, possibly after the service is gone:
// they only post, and what they post finds the service through a weak reference on the main
// thread. They never lock it on the platform's thread, or the last reference could be dropped
// there.
template <typename Task>
void MIDIInputService::postToMainThread(const std::weak_ptr<MIDIInputService>& weak, platform::MainQueue& queue,
                                        Task task) noexcept {
    try {
        queue.post([weak, task = std::move(task)]() mutable {
            if (const auto service = weak.lock()) {
                task(*service);
            }
        });
    } catch (...) {
        // Out of memory: this one notification is lost (see each callback).
    }
}

platform::MIDIPlatform::SetupCallback MIDIInputService::setupCallback() {
    // A lost notification is made good by the next one, or by the user's "Actualizar lista".
    return [weak = weak_from_this(), queue = m_mainQueue]() noexcept {
        postToMainThread(weak, *queue, [](MIDIInputService& service) { service.refresh(); });
    };
}

platform::MIDIPlatform::ReadCallback MIDIInputService::readCallback() {
    // The bytes of a batch are copied once, into the one task that carries them to the main
    // thread. Out of memory, losing a batch beats taking the process down.
    return [weak = weak_from_this(), queue = m_mainQueue](platform::MIDIPacketList packets,
                                                          std::uintptr_t connectionReference) noexcept {
        try {
            std::vector<std::uint8_t> bytes;
            for (const platform::MIDIPacket& packet : packets) {
                bytes.insert(bytes.end(), packet.begin(), packet.end());
            }
            if (bytes.empty()) {
                return;
            }
            const auto source = static_cast<std::uint32_t>(connectionReference);
            postToMainThread(weak, *queue, [source, bytes = std::move(bytes)](MIDIInputService& service) {
                service.receive(source, bytes);
            });
        } catch (...) {
        }
    };
}

platform::MIDIPlatform::ReadFailureCallback MIDIInputService::readFailureCallback(std::uint64_t generation) {
    // Reading stopped for good: the client is closed so that the next start() opens a new one. A
    // failure of a port closed since is ignored.
    return [weak = weak_from_this(), queue = m_mainQueue, generation](platform::MIDIStatus status) noexcept {
        postToMainThread(weak, *queue, [generation, status](MIDIInputService& service) {
            if (service.m_generation == generation) {
                service.readFailed(status);
            }
        });
    };
}

void MIDIInputService::refresh() {
    if (m_port == 0) {
        return;
    }
    // The callbacks below may drop the caller's last reference to the service.
    const auto self = shared_from_this();

    std::vector<MIDISourceInfo> sources = listSources();
    m_nameOrder->sort(sources);
    std::vector<std::uint32_t> wanted;
    for (const MIDISourceInfo& source : sources) {
        if (!sourceFilter || sourceFilter(source)) {
            wanted.push_back(source.endpoint);
        }
    }
    m_sources = std::move(sources);

    // The callbacks may also stop the service, which ends the reconnection: nothing may be
    // connected to a closed port.
    const std::set<std::uint32_t> wantedSet(wanted.begin(), wanted.end());
    std::vector<std::uint32_t> unwanted;
    std::ranges::copy_if(m_connected, std::back_inserter(unwanted),
                         [&](std::uint32_t endpoint) { return !wantedSet.contains(endpoint); });
    for (const std::uint32_t endpoint : unwanted) {
        if (m_port == 0) {
            break;
        }
        if (!m_connected.contains(endpoint)) {
            continue;
        }
        m_platform->portDisconnectSource(m_port, endpoint);
        m_connected.erase(endpoint);
        m_decoders.erase(endpoint);
        callIfSet(onDisconnect, endpoint);
    }
    for (const std::uint32_t endpoint : wanted) {
        if (m_port == 0) {
            break;
        }
        if (m_connected.contains(endpoint)) {
            continue;
        }
        const platform::MIDIStatus status =
            m_platform->portConnectSource(m_port, endpoint, static_cast<std::uintptr_t>(endpoint));
        if (status == 0) {
            m_connected.insert(endpoint);
        } else {
            report("conectar una entrada MIDI", status);
        }
    }
    callIfSet(onChange);
}

void MIDIInputService::stop() {
    for (const std::uint32_t endpoint : m_connected) {
        m_platform->portDisconnectSource(m_port, endpoint);
    }
    m_connected.clear();
    m_decoders.clear();
    if (m_port != 0) {
        m_platform->portDispose(m_port);
        m_port = 0;
    }
    if (m_client != 0) {
        m_platform->clientDispose(m_client);
        m_client = 0;
    }
}

void MIDIInputService::readFailed(platform::MIDIStatus status) {
    if (m_port == 0) {
        return;
    }
    // The callbacks below may drop the caller's last reference to the service.
    const auto self = shared_from_this();
    const std::set<std::uint32_t> dropped = m_connected;
    stop();
    report("leer la entrada MIDI", status);
    for (const std::uint32_t endpoint : dropped) {
        callIfSet(onDisconnect, endpoint);
    }
    callIfSet(onChange);
}

std::vector<MIDISourceInfo> MIDIInputService::listSources() {
    std::vector<MIDISourceInfo> sources;
    const std::size_t count = m_platform->numberOfSources();
    for (std::size_t index = 0; index < count; ++index) {
        const platform::MIDIHandle endpoint = m_platform->source(index);
        if (endpoint == 0) {
            continue;
        }
        std::optional<std::string> name = m_platform->displayName(endpoint);
        const platform::MIDIUniqueID uniqueID = m_platform->uniqueID(endpoint);
        // The fallback name counts enumeration positions, skipped ones included.
        sources.push_back({endpoint, uniqueID.status == 0 ? uniqueID.value : std::bit_cast<std::int32_t>(endpoint),
                           name ? std::move(*name) : "Entrada MIDI " + std::to_string(index + 1)});
    }
    return sources;
}

void MIDIInputService::receive(std::uint32_t source, std::span<const std::uint8_t> bytes) {
    if (!m_connected.contains(source)) {
        return;
    }
    // Copied once per batch, not per message: a callback that replaces or clears onMessage while
    // it runs keeps its captures until it returns, and its replacement takes over with the next
    // batch. Without one the bytes are still decoded, so the stream's state stays right.
    const auto handler = onMessage;
    m_decoders[source].decodeEach(bytes, m_messages, [&](const MIDIMessage& message) {
        // The handler may stop the service or drop this source; the rest is then discarded like
        // bytes that arrive after the drop.
        if (handler && m_connected.contains(source)) {
            handler(message, source);
        }
    });
}

void MIDIInputService::report(const std::string& action, platform::MIDIStatus status) {
    m_errorExplanation = m_platform->explainStatus(status);
    callIfSet(onError, "No se pudo " + action + " (" + std::to_string(status) + ").");
}

} // namespace quenlitor
