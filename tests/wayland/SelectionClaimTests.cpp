// When a copy through data-control counts: only once the application's own device announces the
// selection as the copy's.
#include "platform/wayland/SelectionClaim.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlitor::platform::wayland {
namespace {

using Outcome = SelectionClaim::Outcome;

// What the compositor says while the copy waits, one letter each: o this copy's selection, x another
// client's, 0 a cleared one, e the process' previous copy's (announced late), c this copy's source
// cancelled, u the round trip answered, a the connection gone.
TEST(SelectionClaim, CountsOnlyWhenTheOwnDeviceAnnouncesThisCopy) {
    const struct {
        const char* events;
        Outcome outcome;
    } rows[] = {
        {"", Outcome::pending},    {"o", Outcome::taken},     {"ou", Outcome::taken},    {"xo", Outcome::taken},
        {"0o", Outcome::taken},    {"ocx", Outcome::taken},   {"oa", Outcome::taken},    {"u", Outcome::refused},
        {"xu", Outcome::refused},  {"co", Outcome::refused},  {"cx", Outcome::refused},  {"eu", Outcome::refused},
        {"ao", Outcome::refused},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.events);
        SelectionClaim claim(7, 2);
        for (const char event : std::string(row.events)) {
            std::vector<std::string> types{"text/plain;charset=utf-8", "text/plain"};
            switch (event) {
            case 'o': types.push_back(claim.marker()); claim.selectionAnnounced(types); break;
            case 'x': claim.selectionAnnounced(types); break;
            case '0': claim.selectionAnnounced({}); break;
            case 'e': types.push_back(SelectionClaim(7, 1).marker()); claim.selectionAnnounced(types); break;
            case 'c': claim.sourceCancelled(); break;
            case 'u': claim.compositorCaughtUp(); break;
            case 'a': claim.abandoned(); break;
            }
        }
        EXPECT_EQ(claim.outcome(), row.outcome);
        EXPECT_EQ(claim.decided(), row.outcome != Outcome::pending);
    }
}

TEST(SelectionClaim, MarkersTellCopiesAndProcessesApart) {
    const SelectionClaim first(7, 1);
    for (const SelectionClaim& other : {SelectionClaim(7, 2), SelectionClaim(8, 1), SelectionClaim(71, 1), SelectionClaim(7, 11)}) {
        SCOPED_TRACE(other.marker());
        EXPECT_NE(first.marker(), other.marker());
    }
    // A MIME type, so that readers that list the types see nothing odd.
    EXPECT_TRUE(first.marker().starts_with("application/"));
    EXPECT_EQ(first.marker().find_first_of(" \t\n"), std::string::npos);
}

} // namespace
} // namespace quenlitor::platform::wayland
