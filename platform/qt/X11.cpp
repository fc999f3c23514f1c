#include "X11.hpp"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace quenlitor::platform::qt::x11 {

namespace {

xcb_connection_t* qtConnection() {
    const auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

// The X server's time now, which window managers want with a request for the focus (Mutter
// calls a request without one buggy). A property changed on a window of a connection of its own
// is announced with the time; Qt's connection would hand the announcement to Qt's event loop.
// A server that has not announced it within `patience` gets the current time instead: the GUI
// thread does not wait on it longer.
xcb_timestamp_t serverTime(std::chrono::milliseconds patience = std::chrono::milliseconds(250)) {
    xcb_connection_t* own = xcb_connect(nullptr, nullptr);
    xcb_timestamp_t time = XCB_CURRENT_TIME;
    if (xcb_connection_has_error(own) == 0) {
        const xcb_window_t window = xcb_generate_id(own);
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(own, XCB_COPY_FROM_PARENT, window, rootWindow(own), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        xcb_change_property(own, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(own);
        const auto deadline = std::chrono::steady_clock::now() + patience;
        bool announced = false;
        while (!announced && xcb_connection_has_error(own) == 0) {
            if (xcb_generic_event_t* event = xcb_poll_for_event(own)) {
                announced = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
                if (announced) {
                    time = reinterpret_cast<const xcb_property_notify_event_t*>(event)->time;
                }
                std::free(event);
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{.fd = xcb_get_file_descriptor(own), .events = POLLIN, .revents = 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
        }
    }
    xcb_disconnect(own);
    return time;
}

} // namespace

void* connection() { return qtConnection(); }

std::uint32_t atom(const char* name) {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) {
        return XCB_ATOM_NONE;
    }
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return found;
}

void activate(std::uintptr_t window) {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr || window == 0) {
        return;
    }
    const auto target = static_cast<xcb_window_t>(window);
    const xcb_window_t root = rootWindow(connection);
    xcb_get_selection_owner_reply_t* manager =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom("WM_S0")), nullptr);
    const bool windowManager = manager != nullptr && manager->owner != XCB_WINDOW_NONE;
    std::free(manager);
    if (windowManager) {
        // Source 2, a pager: the user's own request, which window managers grant.
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = target;
        message.type = atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2;
        message.data.data32[1] = serverTime();
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    } else {
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(connection, target, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, target, XCB_CURRENT_TIME);
    }
    xcb_flush(connection);
}

} // namespace quenlitor::platform::qt::x11
