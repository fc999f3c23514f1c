// The Wayland binding dispatched by Qt's event loop alone, against a compositor 3 s late with a copy.
#include "platform/qt/QtWaylandClipboard.hpp"

#include "QtTestSupport.hpp"
#include "platform/wayland/DataControlClipboard.hpp"
#include "wayland/FakeCompositor.hpp"

#include <gtest/gtest.h>

namespace quenlitor::platform::qt {

TEST(QtWaylandClipboard, CopyThatLandsLateIsToldThroughTheEventLoop) {
    wayland::FakeCompositor compositor;
    const auto selection = wayland::DataControlClipboard::connect(compositor.display().c_str());
    ASSERT_NE(selection, nullptr);
    QtWaylandClipboard clipboard(selection);
    std::string late;
    clipboard.onLateWrite = [&late](std::string_view text) { late += text; };
    compositor.inject(wayland::FakeCompositor::Fault::stallNextSelection);
    EXPECT_FALSE(clipboard.setString("\"D4\" D4 ."));
    EXPECT_TRUE(testing::processEventsUntil([&] { return !late.empty(); }));
    EXPECT_EQ(late, "\"D4\" D4 .");
}

} // namespace quenlitor::platform::qt
