// The data-control binding from the command line, for the desktop checks and measurements.
//   quenlitor-wayland-selection watch
//       prints "ready", then one line per change of the Wayland selection: the CLOCK_MONOTONIC
//       time in nanoseconds and "other" (or "own", never here)
//   quenlitor-wayland-selection copy [--interval MS] [--serve MS] TEXT...
//       copies each TEXT in turn through the binding, MS milliseconds apart (default 0), printing
//       "<time> copied|refused <index>"; after the last, serves readers for --serve milliseconds
//       (default 5000) or until another client takes the selection
// WAYLAND_DISPLAY names the compositor. Exit status: 0 done (every copy taken), 1 a copy refused
// or the connection lost, 2 no compositor with data-control or bad arguments.
#include "platform/wayland/DataControlClipboard.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

using quenlitor::platform::wayland::DataControlClipboard;
using Clock = std::chrono::steady_clock;

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Dispatches for `duration`, or until `until` says stop.
template <typename Until>
void serve(DataControlClipboard& clipboard, std::chrono::milliseconds duration, Until until) {
    const auto deadline = Clock::now() + duration;
    while (clipboard.connected() && !until()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd readable{.fd = clipboard.descriptor(), .events = POLLIN, .revents = 0};
        ::poll(&readable, 1, static_cast<int>(left.count()));
        clipboard.dispatch();
    }
}

int usage() {
    std::fprintf(stderr, "usage: quenlitor-wayland-selection watch | copy [--interval MS] [--serve MS] TEXT...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string_view mode = argv[1];
    std::chrono::milliseconds interval{0};
    std::chrono::milliseconds serving{5000};
    std::vector<std::string> texts;
    for (int index = 2; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if ((argument == "--interval" || argument == "--serve") && index + 1 < argc) {
            (argument == "--interval" ? interval : serving) = std::chrono::milliseconds(std::atol(argv[++index]));
        } else {
            texts.emplace_back(argument);
        }
    }
    if ((mode != "watch" && mode != "copy") || (mode == "copy" && texts.empty())) {
        return usage();
    }
    auto clipboard = DataControlClipboard::connect();
    if (clipboard == nullptr) {
        std::fprintf(stderr, "quenlitor-wayland-selection: no Wayland compositor with data-control\n");
        return 2;
    }
    if (mode == "watch") {
        clipboard->onSelection = [](bool ours) {
            std::printf("%lld %s\n", monotonicNanoseconds(), ours ? "own" : "other");
            std::fflush(stdout);
        };
        std::printf("ready %s\n", std::string(clipboard->protocol()).c_str());
        std::fflush(stdout);
        serve(*clipboard, std::chrono::hours(24 * 365), [] { return false; });
        return 1;
    }
    bool allTaken = true;
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const bool taken = clipboard->setString(texts[index]);
        allTaken = allTaken && taken;
        std::printf("%lld %s %zu\n", monotonicNanoseconds(), taken ? "copied" : "refused", index);
        std::fflush(stdout);
        serve(*clipboard, interval, [] { return false; });
    }
    serve(*clipboard, serving, [&] { return !clipboard->ownsSelection(); });
    return allTaken && clipboard->connected() ? 0 : 1;
}
