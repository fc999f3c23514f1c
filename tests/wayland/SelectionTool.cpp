// The data-control binding from the command line, for the desktop checks and measurements.
//   quenlitor-wayland-selection watch
//       prints "ready PROTOCOL", then "<CLOCK_MONOTONIC ns> other|own" per change of the selection
//   quenlitor-wayland-selection copy [--interval MS] [--serve MS] TEXT...
//       copies each TEXT in turn, MS ms apart (default 0), printing "<ns> copied|refused <index>";
//       then serves readers for --serve ms (default 5000) or until another client takes the selection
// WAYLAND_DISPLAY names the compositor. Exit status: 0 every copy taken, 1 a copy refused or the
// connection lost, 2 no compositor with data-control or bad arguments.
#include "platform/wayland/DataControlClipboard.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenlitor::platform::wayland::DataControlClipboard;
using Clock = std::chrono::steady_clock;

// libstdc++'s steady clock is CLOCK_MONOTONIC, which the scripts' clocks read too.
void say(const std::string& what) {
    std::printf("%lld %s\n", static_cast<long long>(std::chrono::nanoseconds(Clock::now().time_since_epoch()).count()), what.c_str());
    std::fflush(stdout);
}

// Dispatches for `duration`, or until another client takes the selection when `untilTaken`.
void serve(DataControlClipboard& clipboard, std::chrono::milliseconds duration, bool untilTaken = false) {
    const auto deadline = Clock::now() + duration;
    while (clipboard.connected() && !(untilTaken && !clipboard.ownsSelection()) && Clock::now() < deadline) {
        pollfd readable{.fd = clipboard.descriptor(), .events = POLLIN, .revents = 0};
        ::poll(&readable, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
        clipboard.dispatch();
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    std::chrono::milliseconds interval{0}, serving{5000};
    std::vector<std::string> texts;
    for (int index = 2; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if ((argument == "--interval" || argument == "--serve") && index + 1 < argc) {
            (argument == "--interval" ? interval : serving) = std::chrono::milliseconds(std::atol(argv[++index]));
        } else {
            texts.emplace_back(argument);
        }
    }
    const bool understood = mode == "watch" || (mode == "copy" && !texts.empty());
    auto clipboard = understood ? DataControlClipboard::connect() : nullptr;
    if (clipboard == nullptr) {
        std::fputs(understood ? "quenlitor-wayland-selection: no Wayland compositor with data-control\n"
                              : "usage: quenlitor-wayland-selection watch | copy [--interval MS] [--serve MS] TEXT...\n", stderr);
        return 2;
    }
    if (mode == "watch") {
        clipboard->onSelection = [](bool ours) { say(ours ? "own" : "other"); };
        std::printf("ready %s\n", std::string(clipboard->protocol()).c_str());
        std::fflush(stdout);
        serve(*clipboard, std::chrono::hours(24 * 365));
        return 1;
    }
    bool allTaken = true;
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const bool taken = clipboard->setString(texts[index]);
        allTaken = allTaken && taken;
        say((taken ? "copied " : "refused ") + std::to_string(index));
        serve(*clipboard, interval);
    }
    serve(*clipboard, serving, true);
    return allTaken && clipboard->connected() ? 0 : 1;
}
