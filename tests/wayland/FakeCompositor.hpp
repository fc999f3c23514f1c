#pragma once

#include "support/Files.hpp"

#include <string>
#include <sys/types.h>

namespace quenlitor::platform::wayland {

// A compositor with no more than the binding uses (a seat, ext_data_control_manager_v1), run by a
// child process on a socket in a directory of its own, and told to misbehave on demand.
class FakeCompositor {
public:
    enum class Fault : char {
        finishDevices = 'f',       // every data-control device ends now
        finishNewDevices = 'n',    // every device ends now, and each new one as it is made
        removeSeat = 'r',          // the seat's global goes and its devices end
        addSeat = 'a',             // a seat's global comes
        ignoreNextSelection = 'i', // the next set_selection changes nothing
        stallNextSelection = 's',  // the compositor freezes for 3 s, then handles the next set_selection
        dropClients = 'd',         // every client's connection is closed
        stalledReader = 'p',       // a client asks the selection for its text and never reads it
        closedReader = 'c',        // a client asks the selection for its text and closes its end at once
    };

    FakeCompositor();
    ~FakeCompositor();

    // The socket's path, for DataControlClipboard::connect.
    const std::string& display() const { return m_display; }
    // Returns once `fault` is done and what the compositor sent for it is on its way.
    void inject(Fault fault) { request(static_cast<char>(fault)); }
    // Returns once the compositor has handled everything asked of it before (a stall included).
    void sync() { request('y'); }

private:
    void request(char command);

    testing::TemporaryDirectory m_directory;
    std::string m_display;
    pid_t m_child = -1;
    int m_commands = -1;
};

} // namespace quenlitor::platform::wayland
