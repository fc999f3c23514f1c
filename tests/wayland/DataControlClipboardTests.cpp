// The data-control binding against the compositor this test runs under (WAYLAND_DISPLAY), read
// back by wl-clipboard's wl-paste, a Wayland client of its own. scripts/wayland-clipboard-test.sh
// starts a compositor for it; elsewhere the tests skip (fail in CI).
#include "platform/wayland/DataControlClipboard.hpp"
#include "support/Files.hpp"
#include "support/Missing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quenlitor::platform::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::openDescriptors;

// What a shell command prints, bounded in time by the command itself.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            text.append(buffer, got);
        }
        ::pclose(pipe);
    }
    return text;
}

// What a shell command prints, read while `clipboard` serves the readers it asks for: the command
// may be the reader that waits for this process.
std::string outputWhileServing(const std::string& command, DataControlClipboard& clipboard) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return "pipe failed";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::string text;
    for (;;) {
        clipboard.dispatch();
        pollfd readable{.fd = pipeEnds[0], .events = POLLIN, .revents = 0};
        if (::poll(&readable, 1, 2) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

// A shell pipeline in a process group of its own, ended (group and all) with the object.
class Background {
public:
    explicit Background(const std::string& command) {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setpgid(0, 0);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::setpgid(m_pid, m_pid);
    }
    ~Background() { stop(); }
    void stop() {
        if (m_pid > 0) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
};

// Dispatches until `done` or `patience` runs out; the longest single dispatch goes to `longest`.
template <typename Done>
bool dispatchUntil(DataControlClipboard& clipboard, Done done, std::chrono::milliseconds patience = 5s,
                   Clock::duration* longest = nullptr) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        const auto before = Clock::now();
        clipboard.dispatch();
        if (longest != nullptr) {
            *longest = std::max(*longest, Clock::now() - before);
        }
        ::usleep(2000);
    }
    return true;
}

class DataControlClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
            QUENLITOR_MISSING("no Wayland compositor (WAYLAND_DISPLAY is unset); scripts/wayland-clipboard-test.sh starts one");
        }
        if (output("command -v wl-paste").empty()) {
            QUENLITOR_MISSING("wl-paste is missing: install wl-clipboard (scripts/bootstrap.sh --ci)");
        }
        descriptorsBefore = openDescriptors();
        clipboard = DataControlClipboard::connect();
        if (clipboard == nullptr) {
            QUENLITOR_MISSING("the compositor offers no data-control manager");
        }
    }

    // wl-paste's reading of the selection as `type`, without the newline it would add.
    std::string paste(const std::string& type = "text/plain;charset=utf-8") const {
        return outputWhileServing("timeout 5 wl-paste --no-newline --type '" + type + "'", *clipboard);
    }

    std::size_t descriptorsBefore = 0;
    std::shared_ptr<DataControlClipboard> clipboard;
};

TEST_F(DataControlClipboardTest, CopyIsServedAsEveryTextType) {
    const std::string token = "\"Cmaj7\" C4 E G B .";
    ASSERT_TRUE(clipboard->setString(token));
    EXPECT_TRUE(clipboard->ownsSelection());
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(paste(type), token);
    }
    // The readers were served while the test waited for wl-paste: their descriptors are closed.
    clipboard->dispatch();
    EXPECT_EQ(clipboard->waitingReaders(), 0u);
    std::printf("data-control protocol: %s\n", std::string(clipboard->protocol()).c_str());
}

TEST_F(DataControlClipboardTest, AnotherClientTakingTheSelectionIsSeenAndACopyAgainTakesItBack) {
    ASSERT_TRUE(clipboard->setString("\"C4\" C4 ."));
    std::vector<bool> announced;
    clipboard->onSelection = [&](bool ours) { announced.push_back(ours); };

    // wl-copy stays behind to serve its text until the selection is taken from it.
    ASSERT_EQ(output("timeout 5 wl-copy 'otro texto' >/dev/null 2>&1; echo $?"), "0\n");
    EXPECT_TRUE(dispatchUntil(*clipboard, [&] { return !clipboard->ownsSelection(); }));
    EXPECT_EQ(announced, std::vector<bool>{false});
    EXPECT_EQ(paste(), "otro texto");

    // As "Copiar último token" does.
    EXPECT_TRUE(clipboard->setString("\"C4\" C4 ."));
    EXPECT_EQ(paste(), "\"C4\" C4 .");
    EXPECT_EQ(announced, (std::vector<bool>{false, true}));
}

TEST_F(DataControlClipboardTest, TwoConnectionsInTurnEachOwnItOnlyUntilTheOtherCopies) {
    auto other = DataControlClipboard::connect();
    ASSERT_NE(other, nullptr);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(clipboard->setString("uno"));
        ASSERT_TRUE(dispatchUntil(*other, [&] { return !other->ownsSelection(); }));
        ASSERT_TRUE(other->setString("dos"));
        ASSERT_TRUE(dispatchUntil(*clipboard, [&] { return !clipboard->ownsSelection(); }));
        EXPECT_EQ(outputWhileServing("timeout 5 wl-paste --no-newline", *other), "dos");
    }
}

TEST_F(DataControlClipboardTest, ReadersThatStallOrLeaveNeverBlockTheMainThread) {
    // Far more than a pipe holds, so that a reader that stops reading leaves a write pending.
    const std::string large(4 << 20, 'x');
    ASSERT_TRUE(clipboard->setString(large));
    Clock::duration longest{};
    {
        // wl-paste writes into a pipe nobody reads, so it stops reading the selection.
        Background stalled("timeout 30 wl-paste --no-newline | sleep 30");
        ASSERT_TRUE(dispatchUntil(*clipboard, [&] { return clipboard->waitingReaders() == 1; }, 5s, &longest));
        // Meanwhile the application goes on: other copies, other readers.
        const auto before = Clock::now();
        EXPECT_TRUE(clipboard->setString("\"D4\" D4 ."));
        EXPECT_LT(Clock::now() - before, 500ms);
        EXPECT_EQ(paste(), "\"D4\" D4 .");
        EXPECT_TRUE(clipboard->setString(large));
        stalled.stop();
        // The stalled reader's pipe broke: its descriptor is closed.
        EXPECT_TRUE(dispatchUntil(*clipboard, [&] { return clipboard->waitingReaders() == 0; }, 5s, &longest));
    }
    {
        // A reader that closes its end early: the writes fail with EPIPE, which must not end the process.
        Background early("timeout 30 wl-paste --no-newline | head -c 1000 >/dev/null");
        dispatchUntil(*clipboard, [] { return false; }, 1s, &longest);
        EXPECT_TRUE(dispatchUntil(*clipboard, [&] { return clipboard->waitingReaders() == 0; }, 5s, &longest));
    }
    EXPECT_LT(longest, 100ms) << "a dispatch waited on a reader";
    clipboard.reset();
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

TEST_F(DataControlClipboardTest, BurstOfAThousandCopiesAllTakeAndLeakNothing) {
    std::vector<double> micros;
    for (int copy = 0; copy < 1000; ++copy) {
        const auto before = Clock::now();
        ASSERT_TRUE(clipboard->setString("\"C4\" C4 . " + std::to_string(copy))) << "copy " << copy;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    EXPECT_EQ(paste(), "\"C4\" C4 . 999");
    std::ranges::sort(micros);
    std::printf("FIGURE data-control copy confirmed after %.0f us median, %.0f us p95 (1000 copies)\n", micros[500],
                micros[950]);
    clipboard.reset();
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

// Run alone, last: it ends the compositor (whose process id the test script passes).
TEST_F(DataControlClipboardTest, CompositorGoingAwayIsSurvived) {
    const char* compositor = std::getenv("QUENLITOR_END_COMPOSITOR");
    if (compositor == nullptr) {
        QUENLITOR_MISSING("QUENLITOR_END_COMPOSITOR names no compositor process to end");
    }
    ASSERT_TRUE(clipboard->setString("\"C4\" C4 ."));
    ASSERT_EQ(::kill(static_cast<pid_t>(std::atol(compositor)), SIGKILL), 0);
    EXPECT_TRUE(dispatchUntil(*clipboard, [&] { return !clipboard->connected(); }));
    EXPECT_FALSE(clipboard->setString("\"D4\" D4 ."));
    clipboard->dispatch();
    clipboard.reset();
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

} // namespace
} // namespace quenlitor::platform::wayland
