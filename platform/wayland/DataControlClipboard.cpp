#include "DataControlClipboard.hpp"

#include "SelectionClaim.hpp"
#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quenlitor::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// What editors and terminals ask for; X11 names for the compositors' XWayland bridges.
constexpr std::array textTypes{"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"};

// Readers that take their text slowly are kept this long and this many at most: a reader that
// never reads must not hold a descriptor for ever.
constexpr auto readerPatience = std::chrono::seconds(5);
constexpr std::size_t readerLimit = 64;

// The two protocols are the same messages under two names; each binding names its own.
struct Wlr {
    using Manager = zwlr_data_control_manager_v1;
    using Device = zwlr_data_control_device_v1;
    using Source = zwlr_data_control_source_v1;
    using Offer = zwlr_data_control_offer_v1;
    using DeviceListener = zwlr_data_control_device_v1_listener;
    using SourceListener = zwlr_data_control_source_v1_listener;
    using OfferListener = zwlr_data_control_offer_v1_listener;
    static const wl_interface* managerInterface() { return &zwlr_data_control_manager_v1_interface; }
    static constexpr std::string_view name = "zwlr_data_control_manager_v1";
    static Source* createSource(Manager* manager) { return zwlr_data_control_manager_v1_create_data_source(manager); }
    static Device* getDevice(Manager* manager, wl_seat* seat) { return zwlr_data_control_manager_v1_get_data_device(manager, seat); }
    static void destroy(Manager* manager) { zwlr_data_control_manager_v1_destroy(manager); }
    static void destroy(Device* device) { zwlr_data_control_device_v1_destroy(device); }
    static void destroy(Source* source) { zwlr_data_control_source_v1_destroy(source); }
    static void destroy(Offer* offer) { zwlr_data_control_offer_v1_destroy(offer); }
    static void offer(Source* source, const char* type) { zwlr_data_control_source_v1_offer(source, type); }
    static void setSelection(Device* device, Source* source) { zwlr_data_control_device_v1_set_selection(device, source); }
    static void listen(Device* device, const DeviceListener* listener, void* data) { zwlr_data_control_device_v1_add_listener(device, listener, data); }
    static void listen(Source* source, const SourceListener* listener, void* data) { zwlr_data_control_source_v1_add_listener(source, listener, data); }
    static void listen(Offer* offer, const OfferListener* listener, void* data) { zwlr_data_control_offer_v1_add_listener(offer, listener, data); }
};

struct Ext {
    using Manager = ext_data_control_manager_v1;
    using Device = ext_data_control_device_v1;
    using Source = ext_data_control_source_v1;
    using Offer = ext_data_control_offer_v1;
    using DeviceListener = ext_data_control_device_v1_listener;
    using SourceListener = ext_data_control_source_v1_listener;
    using OfferListener = ext_data_control_offer_v1_listener;
    static const wl_interface* managerInterface() { return &ext_data_control_manager_v1_interface; }
    static constexpr std::string_view name = "ext_data_control_manager_v1";
    static Source* createSource(Manager* manager) { return ext_data_control_manager_v1_create_data_source(manager); }
    static Device* getDevice(Manager* manager, wl_seat* seat) { return ext_data_control_manager_v1_get_data_device(manager, seat); }
    static void destroy(Manager* manager) { ext_data_control_manager_v1_destroy(manager); }
    static void destroy(Device* device) { ext_data_control_device_v1_destroy(device); }
    static void destroy(Source* source) { ext_data_control_source_v1_destroy(source); }
    static void destroy(Offer* offer) { ext_data_control_offer_v1_destroy(offer); }
    static void offer(Source* source, const char* type) { ext_data_control_source_v1_offer(source, type); }
    static void setSelection(Device* device, Source* source) { ext_data_control_device_v1_set_selection(device, source); }
    static void listen(Device* device, const DeviceListener* listener, void* data) { ext_data_control_device_v1_add_listener(device, listener, data); }
    static void listen(Source* source, const SourceListener* listener, void* data) { ext_data_control_source_v1_add_listener(source, listener, data); }
    static void listen(Offer* offer, const OfferListener* listener, void* data) { ext_data_control_offer_v1_add_listener(offer, listener, data); }
};

// A write that must not end the process when the reader has already closed its end: SIGPIPE is
// held back on this thread for the call, and one raised by it is taken off again.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    const ssize_t written = ::write(fd, data, size);
    const int savedErrno = errno;
    if (written < 0 && savedErrno == EPIPE) {
        const timespec none{};
        sigtimedwait(&pipeOnly, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = savedErrno;
    return written;
}

// One reader's text, while the reader takes it.
struct Reader {
    int fd = -1;
    std::string text;
    std::size_t sent = 0;
    Clock::time_point since;
};

// The part of a session that speaks one of the two protocols.
class Selection {
public:
    virtual ~Selection() = default;
    virtual bool start(std::chrono::milliseconds patience) = 0;
    virtual bool claim(std::string_view text, std::chrono::milliseconds patience) = 0;
    virtual std::string_view protocol() const = 0;
    // The seat went or came: the device for the old one is gone, one for the new one is asked for.
    virtual void seatChanged() = 0;
    virtual bool hasDevice() const = 0;
    virtual std::size_t offeredCopies() const = 0;
};

} // namespace

// What both protocols share: the connection, the seat, the readers and the waiting.
struct DataControlClipboard::Session {
    ~Session() {
        // The protocol's objects before the connection they live on.
        selection.reset();
        for (Reader& reader : readers) {
            ::close(reader.fd);
        }
        if (seat != nullptr) {
            wl_seat_destroy(seat);
        }
        if (registry != nullptr) {
            wl_registry_destroy(registry);
        }
        if (display != nullptr) {
            wl_display_disconnect(display);
        }
        if (events >= 0) {
            ::close(events);
        }
        if (readerTimer >= 0) {
            ::close(readerTimer);
        }
    }

    // Binds the seat the registry named; the selection, once there, asks for its device.
    void bindSeat() {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, seatGlobal->first, &wl_seat_interface, 1));
        if (selection != nullptr) {
            selection->seatChanged();
        }
    }

    void dropSeat() {
        seatGlobal.reset();
        if (seat != nullptr) {
            wl_seat_destroy(seat);
            seat = nullptr;
        }
        if (selection != nullptr) {
            selection->seatChanged();
        }
    }

    // Reads and handles what the compositor sent, waiting up to `timeout` for it; false once the
    // connection is gone.
    bool pump(std::chrono::milliseconds timeout) {
        if (!alive) {
            return false;
        }
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0) {
                return lose();
            }
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return lose();
        }
        pollfd watched{.fd = wl_display_get_fd(display), .events = POLLIN, .revents = 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 0)));
        if (ready > 0) {
            if (wl_display_read_events(display) < 0) {
                return lose();
            }
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) {
            return lose();
        }
        // What the handlers asked for (a device in place of an ended one) goes out now, not
        // with whatever happens next.
        return flush();
    }

    bool flush() {
        if (alive && wl_display_flush(display) < 0 && errno != EAGAIN) {
            return lose();
        }
        return alive;
    }

    // Sends a round trip and handles events until `done` says enough, the round trip comes back
    // (then `caughtUp` runs), or `patience` runs out; false when it ran out or the connection went.
    template <typename Done, typename CaughtUp>
    bool waitFor(std::chrono::milliseconds patience, Done done, CaughtUp caughtUp) {
        if (!alive) {
            return false;
        }
        bool back = false;
        static constexpr wl_callback_listener syncListener{
            .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; },
        };
        wl_callback* sync = wl_display_sync(display);
        wl_callback_add_listener(sync, &syncListener, &back);
        const auto deadline = Clock::now() + patience;
        bool answered = true;
        while (!done()) {
            if (back) {
                caughtUp();
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !pump(left)) {
                answered = false;
                break;
            }
        }
        // Its answer, should it come later, finds no proxy and is dropped.
        wl_callback_destroy(sync);
        return answered;
    }

    bool lose() {
        if (alive) {
            alive = false;
            epoll_ctl(events, EPOLL_CTL_DEL, wl_display_get_fd(display), nullptr);
        }
        return false;
    }

    // Hands `text` to a reader without waiting for it; what it cannot take now waits for it.
    void serve(int fd, const std::string& text) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
            ::close(fd);
            return;
        }
        Reader reader{.fd = fd, .text = text, .sent = 0, .since = Clock::now()};
        if (feed(reader)) {
            ::close(fd);
            return;
        }
        epoll_event interest{.events = EPOLLOUT, .data = {.fd = fd}};
        if (epoll_ctl(events, EPOLL_CTL_ADD, fd, &interest) < 0) {
            ::close(fd);
            return;
        }
        readers.push_back(std::move(reader));
        dropStaleReaders();
    }

    // Writes what the reader takes; true when it is done with (all sent, or it went away).
    static bool feed(Reader& reader) {
        while (reader.sent < reader.text.size()) {
            const ssize_t written = writeWithoutSigpipe(reader.fd, reader.text.data() + reader.sent, reader.text.size() - reader.sent);
            if (written > 0) {
                reader.sent += static_cast<std::size_t>(written);
            } else if (written < 0 && errno == EINTR) {
                continue;
            } else {
                return !(written < 0 && errno == EAGAIN);
            }
        }
        return true;
    }

    void readerReady(int fd) {
        const auto found = std::ranges::find(readers, fd, &Reader::fd);
        if (found == readers.end()) {
            return;
        }
        if (feed(*found)) {
            closeReader(found);
        }
    }

    void closeReader(std::deque<Reader>::iterator reader) {
        epoll_ctl(events, EPOLL_CTL_DEL, reader->fd, nullptr);
        ::close(reader->fd);
        readers.erase(reader);
    }

    void dropStaleReaders() {
        const auto now = Clock::now();
        while (!readers.empty() && (readers.size() > readerLimit || now - readers.front().since >= readerPatience)) {
            closeReader(readers.begin());
        }
        armReaderTimer();
    }

    // The oldest reader's time runs out while nothing else happens too: the timer wakes the event
    // loop for it.
    void armReaderTimer() {
        itimerspec when{};
        if (!readers.empty()) {
            const auto left = std::max<Clock::duration>(readers.front().since + readerPatience - Clock::now(),
                                                        std::chrono::nanoseconds(1));
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            when.it_value.tv_sec = seconds.count();
            when.it_value.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count();
        }
        timerfd_settime(readerTimer, 0, &when, nullptr);
    }

    void dispatch() {
        std::array<epoll_event, 16> ready{};
        const int count = epoll_wait(events, ready.data(), static_cast<int>(ready.size()), 0);
        for (int index = 0; index < count; ++index) {
            const int fd = ready[static_cast<std::size_t>(index)].data.fd;
            if (alive && fd == wl_display_get_fd(display)) {
                pump(std::chrono::milliseconds::zero());
            } else if (fd == readerTimer) {
                std::uint64_t expirations = 0;
                [[maybe_unused]] const ssize_t read = ::read(readerTimer, &expirations, sizeof expirations);
            } else {
                readerReady(fd);
            }
        }
        dropStaleReaders();
        reportLateWrites();
    }

    // Outside the protocol's handlers, so that the application may copy again from the callback.
    void reportLateWrites() {
        for (const std::string& text : std::exchange(lateWrites, {})) {
            if (owner != nullptr && owner->onLateWrite) {
                owner->onLateWrite(text);
            }
        }
    }

    void announce(bool ours) {
        ownsSelection = ours;
        if (owner != nullptr && owner->onSelection) {
            owner->onSelection(ours);
        }
    }

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    // The globals the registry lists: name and version.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> extGlobal, wlrGlobal, seatGlobal;
    wl_seat* seat = nullptr;
    std::unique_ptr<Selection> selection;
    int events = -1;
    int readerTimer = -1;
    bool alive = true;
    bool ownsSelection = false;
    std::uint64_t copies = 0;
    std::deque<Reader> readers;
    // Copies reported refused that the compositor made the selection after all.
    std::vector<std::string> lateWrites;
    DataControlClipboard* owner = nullptr;
};

namespace {

using Session = DataControlClipboard::Session;

template <typename P>
class ProtocolSelection final : public Selection {
public:
    ProtocolSelection(Session& session, typename P::Manager* manager) : m_session(session), m_manager(manager) {}

    ~ProtocolSelection() override {
        for (auto& [source, text] : m_sources) {
            P::destroy(source);
        }
        closeDevice();
        P::destroy(m_manager);
    }

    // Starts listening to the seat's selection; false when the compositor does not answer.
    bool start(std::chrono::milliseconds patience) override {
        openDevice();
        // The device announces the selection there is at once.
        return m_session.waitFor(patience, [] { return false; }, [] {});
    }

    void seatChanged() override {
        closeDevice();
        if (m_session.seat != nullptr) {
            openDevice();
        }
    }

    bool hasDevice() const override { return m_device != nullptr; }

    std::size_t offeredCopies() const override { return m_sources.size(); }

    bool claim(std::string_view text, std::chrono::milliseconds patience) override {
        if (!m_session.alive || m_device == nullptr) {
            return false;
        }
        static constexpr typename P::SourceListener sourceListener{
            .send = &ProtocolSelection::onSend,
            .cancelled = &ProtocolSelection::onCancelled,
        };
        SelectionClaim claim(static_cast<std::uint64_t>(::getpid()), ++m_session.copies);
        typename P::Source* source = P::createSource(m_manager);
        P::listen(source, &sourceListener, this);
        for (const char* type : textTypes) {
            P::offer(source, type);
        }
        P::offer(source, claim.marker().c_str());
        m_sources.emplace(source, std::string(text));
        m_markers[source] = claim.marker();
        P::setSelection(m_device, source);
        m_claim = &claim;
        m_claimSource = source;
        const bool answered =
            m_session.waitFor(patience, [&] { return claim.decided(); }, [&] { claim.compositorCaughtUp(); });
        claim.abandoned();
        m_claim = nullptr;
        m_claimSource = nullptr;
        const bool taken = claim.outcome() == SelectionClaim::Outcome::taken;
        if (taken) {
            // The compositor handles requests in order: the copies before this one will never be
            // the selection now.
            for (typename P::Source* late : std::exchange(m_late, {})) {
                forget(late);
            }
        } else if (!answered && m_session.alive) {
            // No answer in time: the compositor may still make it the selection, and a source
            // destroyed then would leave the clipboard empty. onLateWrite tells if it does.
            m_late.insert(source);
        } else if (m_sources.contains(source)) {
            // The compositor answered without making it the selection: it never will.
            forget(source);
        }
        return taken;
    }

    std::string_view protocol() const override { return P::name; }

private:
    void openDevice() {
        static constexpr typename P::DeviceListener deviceListener{
            .data_offer = &ProtocolSelection::onDataOffer,
            .selection = &ProtocolSelection::onSelection,
            .finished = &ProtocolSelection::onFinished,
            .primary_selection = &ProtocolSelection::onPrimarySelection,
        };
        m_device = P::getDevice(m_manager, m_session.seat);
        m_deviceSpoke = false;
        P::listen(m_device, &deviceListener, this);
    }

    // The device and the offers it made; a copy waiting on it is refused.
    void closeDevice() {
        for (auto& [offer, types] : m_offers) {
            P::destroy(offer);
        }
        m_offers.clear();
        m_selection = nullptr;
        m_primary = nullptr;
        if (m_device != nullptr) {
            P::destroy(m_device);
            m_device = nullptr;
        }
        if (m_claim != nullptr) {
            m_claim->abandoned();
        }
        m_session.ownsSelection = false;
    }

    void forget(typename P::Source* source) {
        P::destroy(source);
        m_sources.erase(source);
        m_markers.erase(source);
        m_late.erase(source);
    }

    // The MIME types of `offer` (none for no offer).
    std::vector<std::string> typesOf(typename P::Offer* offer) const {
        const auto found = m_offers.find(offer);
        return found == m_offers.end() ? std::vector<std::string>{} : found->second;
    }

    void replace(typename P::Offer*& current, typename P::Offer* next) {
        if (current != nullptr && current != next) {
            P::destroy(current);
            m_offers.erase(current);
        }
        current = next;
    }

    static void onDataOffer(void* data, typename P::Device*, typename P::Offer* offer) {
        static constexpr typename P::OfferListener offerListener{
            .offer = [](void* session, typename P::Offer* offered, const char* type) {
                static_cast<ProtocolSelection*>(session)->m_offers[offered].emplace_back(type);
            },
        };
        auto* self = static_cast<ProtocolSelection*>(data);
        self->m_offers[offer];
        P::listen(offer, &offerListener, self);
    }

    static void onSelection(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<ProtocolSelection*>(data);
        self->m_deviceSpoke = true;
        const std::vector<std::string> types = self->typesOf(offer);
        self->replace(self->m_selection, offer);
        if (self->m_claim != nullptr) {
            self->m_claim->selectionAnnounced(types);
        }
        // Ours when it carries the marker of a source that is still ours.
        const auto announced = std::ranges::find_if(self->m_markers, [&](const auto& entry) {
            return std::ranges::find(types, entry.second) != types.end();
        });
        const bool ours = announced != self->m_markers.end();
        if (ours && self->m_late.erase(announced->first) > 0) {
            self->m_session.lateWrites.push_back(self->m_sources.at(announced->first));
        }
        self->m_session.announce(ours);
    }

    static void onPrimarySelection(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<ProtocolSelection*>(data);
        self->replace(self->m_primary, offer);
    }

    // The compositor ended the device (the seat went, or for reasons of its own): another is
    // asked for. One ended before it announced anything would only be ended again: then there is
    // none until another seat comes.
    static void onFinished(void* data, typename P::Device*) {
        auto* self = static_cast<ProtocolSelection*>(data);
        const bool again = self->m_deviceSpoke && self->m_session.seat != nullptr;
        self->closeDevice();
        if (again) {
            self->openDevice();
        }
    }

    static void onSend(void* data, typename P::Source* source, const char*, std::int32_t fd) {
        auto* self = static_cast<ProtocolSelection*>(data);
        const auto found = self->m_sources.find(source);
        if (found == self->m_sources.end()) {
            ::close(fd);
            return;
        }
        self->m_session.serve(fd, found->second);
    }

    static void onCancelled(void* data, typename P::Source* source) {
        auto* self = static_cast<ProtocolSelection*>(data);
        if (self->m_claim != nullptr && source == self->m_claimSource) {
            self->m_claim->sourceCancelled();
        }
        self->forget(source);
    }

    Session& m_session;
    typename P::Manager* m_manager;
    typename P::Device* m_device = nullptr;
    // Whether m_device has announced a selection yet.
    bool m_deviceSpoke = false;
    typename P::Offer* m_selection = nullptr;
    typename P::Offer* m_primary = nullptr;
    std::map<typename P::Source*, std::string> m_sources;
    std::map<typename P::Source*, std::string> m_markers;
    // Copies reported refused for want of an answer in time, offered still.
    std::set<typename P::Source*> m_late;
    std::map<typename P::Offer*, std::vector<std::string>> m_offers;
    SelectionClaim* m_claim = nullptr;
    typename P::Source* m_claimSource = nullptr;
};

} // namespace

std::shared_ptr<DataControlClipboard> DataControlClipboard::connect(const char* displayName, std::chrono::milliseconds patience) {
    auto session = std::make_unique<Session>();
    session->display = wl_display_connect(displayName);
    if (session->display == nullptr) {
        return nullptr;
    }
    session->events = epoll_create1(EPOLL_CLOEXEC);
    session->readerTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event interest{.events = EPOLLIN, .data = {.fd = wl_display_get_fd(session->display)}};
    epoll_event timer{.events = EPOLLIN, .data = {.fd = session->readerTimer}};
    if (session->events < 0 || session->readerTimer < 0 ||
        epoll_ctl(session->events, EPOLL_CTL_ADD, interest.data.fd, &interest) < 0 ||
        epoll_ctl(session->events, EPOLL_CTL_ADD, timer.data.fd, &timer) < 0) {
        return nullptr;
    }
    static constexpr wl_registry_listener registryListener{
        .global = [](void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
            auto& found = *static_cast<Session*>(data);
            const std::string_view offered(interface);
            if (offered == Ext::name) {
                found.extGlobal = {name, version};
            } else if (offered == Wlr::name) {
                found.wlrGlobal = {name, version};
            } else if (offered == "wl_seat" && !found.seatGlobal) {
                found.seatGlobal = {name, version};
                // Once connected, a seat that comes after the one that went.
                if (found.selection != nullptr) {
                    found.bindSeat();
                }
            }
        },
        .global_remove = [](void* data, wl_registry*, std::uint32_t name) {
            auto& found = *static_cast<Session*>(data);
            if (found.seatGlobal && found.seatGlobal->first == name) {
                found.dropSeat();
            }
        },
    };
    session->registry = wl_display_get_registry(session->display);
    wl_registry_add_listener(session->registry, &registryListener, session.get());
    if (!session->waitFor(patience, [] { return false; }, [] {}) || !session->seatGlobal ||
        !(session->extGlobal || session->wlrGlobal)) {
        return nullptr;
    }
    session->bindSeat();
    // The standard protocol where the compositor offers both.
    if (session->extGlobal) {
        session->selection = std::make_unique<ProtocolSelection<Ext>>(*session, static_cast<Ext::Manager*>(
            wl_registry_bind(session->registry, session->extGlobal->first, Ext::managerInterface(), 1)));
    } else {
        session->selection = std::make_unique<ProtocolSelection<Wlr>>(*session, static_cast<Wlr::Manager*>(
            wl_registry_bind(session->registry, session->wlrGlobal->first, Wlr::managerInterface(), 1)));
    }
    if (!session->selection->start(patience)) {
        return nullptr;
    }
    return std::shared_ptr<DataControlClipboard>(new DataControlClipboard(std::move(session)));
}

DataControlClipboard::DataControlClipboard(std::unique_ptr<Session> session) : m_session(std::move(session)) {
    m_session->owner = this;
}

DataControlClipboard::~DataControlClipboard() = default;

void DataControlClipboard::clearContents() {}

bool DataControlClipboard::setString(std::string_view text) {
    // The GUI thread waits this long at most: compositors answer within milliseconds, and one
    // that answers later still gets the copy told through onLateWrite.
    constexpr std::chrono::milliseconds copyPatience{250};
    const bool taken = m_session->selection->claim(text, copyPatience);
    m_session->flush();
    m_session->reportLateWrites();
    return taken;
}

int DataControlClipboard::descriptor() const { return m_session->events; }

void DataControlClipboard::dispatch() { m_session->dispatch(); }

std::string_view DataControlClipboard::protocol() const { return m_session->selection->protocol(); }

bool DataControlClipboard::connected() const { return m_session->alive && m_session->selection->hasDevice(); }

bool DataControlClipboard::ownsSelection() const { return m_session->ownsSelection; }

std::size_t DataControlClipboard::waitingReaders() const { return m_session->readers.size(); }

std::size_t DataControlClipboard::offeredCopies() const { return m_session->selection->offeredCopies(); }

} // namespace quenlitor::platform::wayland
