// When a copy through data-control counts: only once the application's own device announces the
// selection as the copy's.
#include "platform/wayland/SelectionClaim.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace quenlitor::platform::wayland {
namespace {

using Outcome = SelectionClaim::Outcome;

// What the compositor says while the copy waits, one letter each: o this copy's selection, x another
// client's (or the process' previous copy's), c this copy's source cancelled, u the round trip
// answered, a the connection gone.
TEST(SelectionClaim, CountsOnlyWhenTheOwnDeviceAnnouncesThisCopy) {
    const struct { const char* events; Outcome outcome; } rows[] = {
        {"", Outcome::pending},  {"o", Outcome::taken},    {"ou", Outcome::taken},   {"xo", Outcome::taken},
        {"ocx", Outcome::taken}, {"oa", Outcome::taken},   {"u", Outcome::refused},  {"xu", Outcome::refused},
        {"co", Outcome::refused}, {"cx", Outcome::refused}, {"ao", Outcome::refused},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        SelectionClaim claim(7, 2);
        for (const char event : std::string(row.events)) {
            std::vector<std::string> types{"text/plain;charset=utf-8", "text/plain"};
            switch (event) {
            case 'o': types.push_back(claim.marker()); claim.selectionAnnounced(types); break;
            case 'x': claim.selectionAnnounced(types); break;
            case 'c': claim.sourceCancelled(); break;
            case 'u': claim.compositorCaughtUp(); break;
            case 'a': claim.abandoned(); break;
            }
        }
        EXPECT_EQ(claim.outcome(), row.outcome);
    }
}

// A MIME type of its own, so that readers that list the types see nothing odd.
TEST(SelectionClaim, MarkersTellCopiesAndProcessesApart) {
    const std::set<std::string> markers{SelectionClaim(7, 1).marker(), SelectionClaim(7, 2).marker(), SelectionClaim(8, 1).marker(),
                                        SelectionClaim(71, 1).marker(), SelectionClaim(7, 11).marker()};
    EXPECT_EQ(markers.size(), 5u);
    EXPECT_TRUE(markers.begin()->starts_with("application/"));
}

} // namespace
} // namespace quenlitor::platform::wayland
