#include "FakeCompositor.hpp"

// The interfaces' definitions are the binding's own, written from the same protocol file.
#include "ext-data-control-v1-server-protocol.h"

#include <wayland-server.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quenlitor::platform::wayland {

namespace {

// The child's whole state: it serves one test at a time.
struct Compositor {
    wl_display* display = nullptr;
    wl_global* seat = nullptr;
    // Devices that have not ended; an ended one is inert until its client destroys it.
    std::set<wl_resource*> devices;
    std::map<wl_resource*, std::vector<std::string>> sources;
    wl_resource* selection = nullptr;
    bool finishNewDevices = false, ignoreNextSelection = false, stallNextSelection = false;
} fake;

void destroyResource(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

// The binding never reads an offer, nor sets the primary selection.
constexpr struct ext_data_control_offer_v1_interface offerRequests{.receive = nullptr, .destroy = destroyResource};

// Tells `devices` what the selection is now, each with an offer of its types.
void announce(const std::set<wl_resource*>& devices) {
    for (wl_resource* device : devices) {
        wl_resource* offer = nullptr;
        if (fake.selection != nullptr) {
            offer = wl_resource_create(wl_resource_get_client(device), &ext_data_control_offer_v1_interface,
                                       wl_resource_get_version(device), 0);
            wl_resource_set_implementation(offer, &offerRequests, nullptr, nullptr);
            ext_data_control_device_v1_send_data_offer(device, offer);
            for (const std::string& type : fake.sources[fake.selection]) {
                ext_data_control_offer_v1_send_offer(offer, type.c_str());
            }
        }
        ext_data_control_device_v1_send_selection(device, offer);
    }
}

constexpr struct ext_data_control_source_v1_interface sourceRequests{
    .offer = [](wl_client*, wl_resource* source, const char* type) { fake.sources[source].emplace_back(type); },
    .destroy = destroyResource,
};

constexpr struct ext_data_control_device_v1_interface deviceRequests{
    .set_selection =
        [](wl_client*, wl_resource* device, wl_resource* source) {
            if (std::exchange(fake.stallNextSelection, false)) {
                std::this_thread::sleep_for(std::chrono::seconds(3));
            }
            if (!fake.devices.contains(device) || std::exchange(fake.ignoreNextSelection, false)) {
                return;
            }
            if (fake.selection != nullptr && fake.selection != source) {
                ext_data_control_source_v1_send_cancelled(fake.selection);
            }
            fake.selection = source;
            announce(fake.devices);
        },
    .destroy = destroyResource,
    .set_primary_selection = nullptr,
};

constexpr struct ext_data_control_manager_v1_interface managerRequests{
    .create_data_source =
        [](wl_client* client, wl_resource* manager, std::uint32_t id) {
            wl_resource* source = wl_resource_create(client, &ext_data_control_source_v1_interface,
                                                     wl_resource_get_version(manager), id);
            wl_resource_set_implementation(source, &sourceRequests, nullptr, [](wl_resource* gone) {
                fake.sources.erase(gone);
                fake.selection = fake.selection == gone ? nullptr : fake.selection;
            });
        },
    .get_data_device =
        [](wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource*) {
            wl_resource* device = wl_resource_create(client, &ext_data_control_device_v1_interface,
                                                     wl_resource_get_version(manager), id);
            wl_resource_set_implementation(device, &deviceRequests, nullptr,
                                           [](wl_resource* gone) { fake.devices.erase(gone); });
            if (fake.finishNewDevices) {
                ext_data_control_device_v1_send_finished(device);
                return;
            }
            fake.devices.insert(device);
            announce({device});
        },
    .destroy = destroyResource,
};

void inject(char command) {
    if (command == 'n' || command == 'f' || command == 'r') {
        fake.finishNewDevices = fake.finishNewDevices || command == 'n';
        if (command == 'r') {
            wl_global_destroy(std::exchange(fake.seat, nullptr));
        }
        for (wl_resource* device : std::exchange(fake.devices, {})) {
            ext_data_control_device_v1_send_finished(device);
        }
    } else if (command == 'a') {
        // The binding asks a seat for nothing but its data-control device.
        fake.seat = wl_global_create(fake.display, &wl_seat_interface, 1, nullptr,
                                     [](wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
                                         wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
                                     });
    } else if (command == 'i' || command == 's') {
        (command == 'i' ? fake.ignoreNextSelection : fake.stallNextSelection) = true;
    } else if (command == 'd') {
        for (wl_list* clients = wl_display_get_client_list(fake.display); !wl_list_empty(clients);) {
            wl_client_destroy(wl_client_from_link(clients->next));
        }
    } else if (int ends[2]; (command == 'p' || command == 'c') && fake.selection != nullptr && ::pipe2(ends, O_CLOEXEC) == 0) {
        ext_data_control_source_v1_send_send(fake.selection, "text/plain;charset=utf-8", ends[1]);
        ::close(ends[1]);
        // A stalled reader's end stays open, unread, for the child's life.
        if (command == 'c') {
            ::close(ends[0]);
        }
    }
}

[[noreturn]] void serve(int commands, const std::filesystem::path& directory) {
    ::setenv("XDG_RUNTIME_DIR", directory.c_str(), 1);
    fake.display = wl_display_create();
    wl_global_create(fake.display, &ext_data_control_manager_v1_interface, 1, nullptr,
                     [](wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
                         wl_resource_set_implementation(wl_resource_create(client, &ext_data_control_manager_v1_interface,
                                                                           static_cast<int>(version), id),
                                                        &managerRequests, nullptr, nullptr);
                     });
    inject('a');
    wl_event_loop_add_fd(
        wl_display_get_event_loop(fake.display), commands, WL_EVENT_READABLE,
        [](int fd, std::uint32_t, void*) {
            char command = 0;
            if (::read(fd, &command, 1) != 1) {
                ::_exit(0);
            }
            inject(command);
            wl_display_flush_clients(fake.display);
            [[maybe_unused]] const ssize_t sent = ::write(fd, &command, 1);
            return 0;
        },
        nullptr);
    const char ready = wl_display_add_socket(fake.display, "wayland-fake") == 0 ? 'y' : 'x';
    if (::write(commands, &ready, 1) == 1 && ready == 'y') {
        wl_display_run(fake.display);
    }
    ::_exit(0);
}

} // namespace

FakeCompositor::FakeCompositor() {
    // Without a socket pair the child says nothing and the display is not there.
    int ends[2] = {-1, -1};
    [[maybe_unused]] const int paired = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    m_child = ::fork();
    if (m_child == 0) {
        ::close(ends[0]);
        serve(ends[1], m_directory.path());
    }
    ::close(ends[1]);
    m_commands = ends[0];
    request('?');
    m_display = m_directory.path() / "wayland-fake";
}

FakeCompositor::~FakeCompositor() {
    if (m_child > 0) {
        ::kill(m_child, SIGKILL);
        ::waitpid(m_child, nullptr, 0);
    }
    if (m_commands >= 0) {
        ::close(m_commands);
    }
}

void FakeCompositor::request(char command) {
    // '?' only waits for the child's first word: that it listens. A child gone answers nothing.
    if (char reply = 0; command == '?' || ::write(m_commands, &command, 1) == 1) {
        [[maybe_unused]] const ssize_t got = ::read(m_commands, &reply, 1);
    }
}

} // namespace quenlitor::platform::wayland
