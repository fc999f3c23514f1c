// The data-control binding against a compositor that misbehaves on demand (FakeCompositor): the
// device ended, the seat gone, the connection dropped, set_selection ignored or answered 3 s late,
// a reader that never reads. After each: what copies answer, connected(), the status line the
// controller shows, and the descriptors left open.
#include "CaptureController.hpp"
#include "ChordRecognizer.hpp"
#include "FakeCompositor.hpp"
#include "platform/wayland/DataControlClipboard.hpp"
#include "support/Files.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace quenlitor::platform::wayland {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Fault = FakeCompositor::Fault;

const std::string refused = "No se pudo copiar al portapapeles.";

// A compositor, the binding connected to it and a controller copying through it, wired as the
// application wires them.
struct Rig {
    Rig() {
        if (clipboard != nullptr) {
            clipboard->onLateWrite = [weak = std::weak_ptr(controller)](std::string_view text) {
                if (const auto target = weak.lock()) {
                    target->copiedLate(text);
                }
            };
        }
    }

    // Copies as "Copiar último token" does; the status it leaves.
    std::string copy(const std::string& note) {
        controller->copy({"\"" + note + "\" " + note + " .", note, {60}});
        return controller->status();
    }

    // Dispatches as the event loop would, until `done` or 5 s.
    template <typename Done>
    bool dispatchUntil(Done done) {
        for (const auto deadline = Clock::now() + 5s; Clock::now() < deadline; ::usleep(2000)) {
            clipboard->dispatch();
            if (done()) {
                return true;
            }
        }
        return false;
    }

    bool leaksNothing() {
        controller.reset();
        clipboard.reset();
        return testing::openDescriptors() == descriptorsBefore;
    }

    FakeCompositor compositor;
    std::size_t descriptorsBefore = testing::openDescriptors();
    std::shared_ptr<DataControlClipboard> clipboard = DataControlClipboard::connect(compositor.display().c_str());
    std::shared_ptr<CaptureController> controller = std::make_shared<CaptureController>(
        TokenGenerator(ChordRecognizer::create(R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}]})")), clipboard);
};

TEST(DataControlFaults, EndedDeviceIsReplacedAndCopiesWithoutOneAreRefusedAtOnce) {
    const struct {
        Fault fault;
        bool replaced;
        std::optional<Fault> recovery;
    } rows[] = {
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
        ASSERT_EQ(rig.copy("C4"), "Copiado: C4");
        rig.compositor.inject(row.fault);
        EXPECT_TRUE(rig.dispatchUntil([&] { return rig.clipboard->connected() == row.replaced; }));
        const auto before = Clock::now();
        EXPECT_EQ(rig.copy("D4"), row.replaced ? "Copiado: D4" : refused);
        EXPECT_LT(Clock::now() - before, 200ms);
        if (row.recovery) {
            rig.compositor.inject(*row.recovery);
            EXPECT_TRUE(rig.dispatchUntil([&] { return rig.clipboard->connected(); }));
            EXPECT_EQ(rig.copy("D4"), "Copiado: D4");
        }
        EXPECT_TRUE(rig.leaksNothing());
    }
}

// A copy the compositor answers after its second is reported refused but stays offered, so that
// the clipboard is never left empty; if it lands, the status says so; the next confirmed copy
// retires it.
TEST(DataControlFaults, CopyAnsweredLateLeavesNoEmptyClipboardAndNoUntoldSelection) {
    const struct {
        bool earlierCopy;
        std::vector<Fault> faults;
        bool lands;
    } rows[] = {
        {false, {Fault::stallNextSelection}, true},
        {true, {Fault::stallNextSelection}, true},
        {true, {Fault::ignoreNextSelection, Fault::stallNextSelection}, false},
        {true, {Fault::ignoreNextSelection}, false},
    };
    for (std::size_t index = 0; index < std::size(rows); ++index) {
        SCOPED_TRACE(index);
        const auto& row = rows[index];
        Rig rig;
        ASSERT_NE(rig.clipboard, nullptr);
        if (row.earlierCopy) {
            ASSERT_EQ(rig.copy("C4"), "Copiado: C4");
        }
        for (const Fault fault : row.faults) {
            rig.compositor.inject(fault);
        }
        EXPECT_EQ(rig.copy("D4"), refused);
        rig.compositor.sync();
        rig.clipboard->dispatch();
        EXPECT_EQ(rig.controller->status(), row.lands ? "Copiado: D4" : refused);
        EXPECT_TRUE(rig.clipboard->ownsSelection()) << "the clipboard was left empty";
        EXPECT_EQ(rig.copy("E4"), "Copiado: E4");
        EXPECT_EQ(rig.clipboard->offeredCopies(), 1u);
        EXPECT_TRUE(rig.leaksNothing());
    }
}

// What the Qt event loop does with descriptor(): wait for it to become readable, then dispatch.
TEST(DataControlFaults, ReaderThatNeverReadsIsDroppedAtItsBoundWithNothingElseHappening) {
    Rig rig;
    ASSERT_NE(rig.clipboard, nullptr);
    // Far more than a pipe holds.
    ASSERT_TRUE(rig.clipboard->setString(std::string(1 << 20, 'x')));
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
    EXPECT_TRUE(rig.leaksNothing());
}

} // namespace
} // namespace quenlitor::platform::wayland
