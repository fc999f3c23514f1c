#pragma once

#include "MIDIStream.hpp"
#include "platform/MIDIPlatform.hpp"
#include "platform/MainQueue.hpp"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace quenlitor {

// One MIDI source of the machine as the menu lists it.
struct MIDISourceInfo {
    // The platform's handle for the source: its id everywhere at run time.
    std::uint32_t endpoint = 0;
    // The persistent id under which the settings remember the source.
    std::int32_t uniqueID = 0;
    std::string name;

    bool operator==(const MIDISourceInfo&) const = default;
};

void PrintTo(const MIDISourceInfo& source, std::ostream* out);

// Opens the MIDI client and input port, lists the machine's sources, connects those that
// `sourceFilter` accepts and delivers their decoded messages on the main thread. Follows setup
// changes by itself. Every operation and every callback runs on the main thread; platform
// failures become Spanish texts through `onError`, never exceptions.
class MIDIInputService : public std::enable_shared_from_this<MIDIInputService> {
public:
    using SourceFilter = std::function<bool(const MIDISourceInfo&)>;

    // No platform call is made until start(). An empty `sourceFilter` accepts every source.
    static std::shared_ptr<MIDIInputService> create(std::shared_ptr<platform::MIDIPlatform> platform,
                                                    std::shared_ptr<platform::MainQueue> mainQueue,
                                                    SourceFilter filter);
    // Releasing the last reference stops the service.
    ~MIDIInputService();

    MIDIInputService(const MIDIInputService&) = delete;
    MIDIInputService& operator=(const MIDIInputService&) = delete;

    // Opens client and port, then refreshes. Does nothing while a client is open. On a failure the
    // service stays stopped and start() may be called again.
    void start();
    // True from a successful start() until stop() or until reading fails for good; then no
    // source is connected and only start() listens again.
    bool running() const { return m_port != 0; }
    // Re-reads the sources, connects what `sourceFilter` wants and disconnects the rest, then calls
    // `onChange`. Does nothing while stopped.
    void refresh();
    // Disconnects every source and closes port and client. Calls no callback; `sources()` keeps
    // the last list.
    void stop();

    // Every source found by the last refresh, ordered by name as a file browser orders them.
    const std::vector<MIDISourceInfo>& sources() const { return m_sources; }
    // The endpoints whose connection succeeded and has not been dropped.
    const std::set<std::uint32_t>& connected() const { return m_connected; }

    // Each decoded message with the endpoint of the source that sent it. Read once per batch of
    // bytes: a new value takes effect with the next batch.
    std::function<void(const MIDIMessage& message, std::uint32_t source)> onMessage;
    // Once at the end of every refresh that runs.
    std::function<void()> onChange;
    // For each source a refresh drops from connected(), before that refresh's onChange.
    std::function<void(std::uint32_t endpoint)> onDisconnect;
    // A Spanish sentence saying what failed, with the platform's status. When reading fails for
    // good the service stops: each dropped source goes through onDisconnect, then onChange.
    std::function<void(const std::string& text)> onError;
    // The system's reason for the failure last reported through onError and what the user can
    // do about it, in Spanish; empty before any failure.
    const std::string& errorExplanation() const { return m_errorExplanation; }
    // True for the sources to connect; takes effect at the next refresh.
    SourceFilter sourceFilter;

private:
    MIDIInputService(std::shared_ptr<platform::MIDIPlatform> platform, std::shared_ptr<platform::MainQueue> mainQueue,
                     SourceFilter filter);

    std::vector<MIDISourceInfo> listSources();
    void receive(std::uint32_t source, std::span<const std::uint8_t> bytes);
    template <typename Task>
    static void postToMainThread(const std::weak_ptr<MIDIInputService>& weak, platform::MainQueue& queue,
                                 Task task) noexcept;
    platform::MIDIPlatform::SetupCallback setupCallback();
    platform::MIDIPlatform::ReadCallback readCallback();
    platform::MIDIPlatform::ReadFailureCallback readFailureCallback(std::uint64_t generation);
    void report(const std::string& action, platform::MIDIStatus status);
    void readFailed(platform::MIDIStatus status);

    std::shared_ptr<platform::MIDIPlatform> m_platform;
    std::shared_ptr<platform::MainQueue> m_mainQueue;
    std::vector<MIDISourceInfo> m_sources;
    std::set<std::uint32_t> m_connected;
    platform::MIDIHandle m_client = 0;
    platform::MIDIHandle m_port = 0;
    // Counts the ports opened, so that a failure reported by an earlier one is ignored.
    std::uint64_t m_generation = 0;
    std::string m_errorExplanation;
    // Only for members of m_connected, created when a source first delivers bytes.
    std::map<std::uint32_t, MIDIStreamDecoder> m_decoders;
    // The messages of the batch being handed out, kept between batches so that decoding stops
    // allocating once it has grown. Batches are never handed out re-entrantly: each arrives as
    // its own main-thread task.
    std::vector<MIDIMessage> m_messages;
    // How source names are ordered; defined with the sources, which alone see ICU.
    class NameOrder;
    std::unique_ptr<NameOrder> m_nameOrder;
};

} // namespace quenlitor
