// The data-control binding against a compositor that misbehaves on demand (FakeCompositor): after
// each fault, what copies answer, connected(), the copies told late and the descriptors left open.
#include "FakeCompositor.hpp"
#include "platform/wayland/DataControlClipboard.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace quenlitor::platform::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Fault = FakeCompositor::Fault;
using Strings = std::vector<std::string>;

struct Rig {
    // Dispatches as the event loop would, until `done` or 5 s.
    bool dispatchUntil(const auto& done) {
        for (const auto deadline = Clock::now() + 5s; Clock::now() < deadline; ::usleep(2000)) {
            clipboard->dispatch();
            if (done()) {
                return true;
            }
        }
        return false;
    }
    // Every descriptor the binding opened is closed with it.
    ~Rig() {
        clipboard.reset();
        EXPECT_EQ(testing::openDescriptors(), descriptorsBefore);
    }

    FakeCompositor compositor;
    std::size_t descriptorsBefore = testing::openDescriptors();
    std::shared_ptr<DataControlClipboard> clipboard = DataControlClipboard::connect(compositor.display().c_str());
    Strings late;
};

TEST(DataControlFaults, EndedDeviceIsReplacedAndCopiesWithoutOneAreRefusedAtOnce) {
    const struct { Fault fault; bool replaced; std::optional<Fault> recovery; } rows[] = {
        {Fault::finishDevices, true, {}},
        {Fault::removeSeat, false, Fault::addSeat},
        // A device ended before it said anything would be ended again.
        {Fault::finishNewDevices, false, {}},
        {Fault::dropClients, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("fault ") + static_cast<char>(row.fault));
        Rig rig;
        ASSERT_NE(rig.clipboard, nullptr);
        ASSERT_TRUE(rig.clipboard->setString("C4"));
        rig.compositor.inject(row.fault);
        EXPECT_TRUE(rig.dispatchUntil([&] { return rig.clipboard->connected() == row.replaced; }));
        const auto before = Clock::now();
        EXPECT_EQ(rig.clipboard->setString("D4"), row.replaced);
        EXPECT_LT(Clock::now() - before, 200ms);
        if (row.recovery) {
            rig.compositor.inject(*row.recovery);
            EXPECT_TRUE(rig.dispatchUntil([&] { return rig.clipboard->connected(); }));
            EXPECT_TRUE(rig.clipboard->setString("D4"));
        }
    }
}

// A copy the compositor answers after its 250 ms is reported refused but stays offered, so that
// the clipboard is never left empty; if it lands, onLateWrite says so; the next confirmed copy
// retires it.
TEST(DataControlFaults, CopyAnsweredLateLeavesNoEmptyClipboardAndNoUntoldSelection) {
    const struct { bool earlierCopy; std::vector<Fault> faults; bool lands; } rows[] = {
        {false, {Fault::stallNextSelection}, true},
        {true, {Fault::stallNextSelection}, true},
        {true, {Fault::ignoreNextSelection, Fault::stallNextSelection}, false},
        {true, {Fault::ignoreNextSelection}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Rig rig;
        ASSERT_NE(rig.clipboard, nullptr);
        rig.clipboard->onLateWrite = [&rig](std::string_view text) { rig.late.emplace_back(text); };
        ASSERT_TRUE(!row.earlierCopy || rig.clipboard->setString("C4"));
        for (const Fault fault : row.faults) {
            rig.compositor.inject(fault);
        }
        EXPECT_FALSE(rig.clipboard->setString("D4"));
        rig.compositor.sync();
        rig.clipboard->dispatch();
        EXPECT_EQ(rig.late, row.lands ? Strings{"D4"} : Strings{});
        EXPECT_TRUE(rig.clipboard->ownsSelection()) << "the clipboard was left empty";
        EXPECT_TRUE(rig.clipboard->setString("E4"));
        EXPECT_EQ(rig.clipboard->offeredCopies(), 1u);
    }
}

// A reader that leaves at once fails the write with EPIPE, which must not end the process. What the
// Qt event loop does with descriptor() (wait for it to become readable, then dispatch) drops one that
// never reads at its bound.
TEST(DataControlFaults, ReaderThatNeverReadsIsDroppedAtItsBoundWithNothingElseHappening) {
    Rig rig;
    ASSERT_NE(rig.clipboard, nullptr);
    ASSERT_TRUE(rig.clipboard->setString(std::string(1 << 20, 'x'))); // far more than a pipe holds
    rig.compositor.inject(Fault::closedReader);
    rig.clipboard->dispatch();
    EXPECT_EQ(rig.clipboard->waitingReaders(), 0u);
    rig.compositor.inject(Fault::stalledReader);
    ASSERT_TRUE(rig.dispatchUntil([&] { return rig.clipboard->waitingReaders() == 1; }));
    const auto since = Clock::now();
    while (rig.clipboard->waitingReaders() > 0 && Clock::now() - since < 7s) {
        pollfd wake{.fd = rig.clipboard->descriptor(), .events = POLLIN, .revents = 0};
        ::poll(&wake, 1, 7000);
        rig.clipboard->dispatch();
    }
    EXPECT_EQ(rig.clipboard->waitingReaders(), 0u);
    EXPECT_GT(Clock::now() - since, 4500ms);
    EXPECT_LT(Clock::now() - since, 6s);
}

} // namespace
} // namespace quenlitor::platform::wayland
