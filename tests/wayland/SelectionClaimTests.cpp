// When a copy through data-control counts: only once the application's own device announces the
// selection as the copy's.
#include "platform/wayland/SelectionClaim.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlitor::platform::wayland {
namespace {

using Outcome = SelectionClaim::Outcome;

// One thing the compositor can say while a copy waits for its answer.
enum class Event { ownSelection, otherSelection, clearedSelection, earlierOwnSelection, cancelled, caughtUp, abandoned };

void apply(SelectionClaim& claim, Event event) {
    const std::vector<std::string> text{"text/plain;charset=utf-8", "text/plain"};
    switch (event) {
    case Event::ownSelection: {
        std::vector<std::string> types = text;
        types.push_back(claim.marker());
        claim.selectionAnnounced(types);
        break;
    }
    case Event::otherSelection:
        claim.selectionAnnounced(text);
        break;
    case Event::clearedSelection:
        claim.selectionAnnounced({});
        break;
    case Event::earlierOwnSelection: {
        // The same process' previous copy, announced late.
        std::vector<std::string> types = text;
        types.push_back(SelectionClaim(7, 1).marker());
        claim.selectionAnnounced(types);
        break;
    }
    case Event::cancelled:
        claim.sourceCancelled();
        break;
    case Event::caughtUp:
        claim.compositorCaughtUp();
        break;
    case Event::abandoned:
        claim.abandoned();
        break;
    }
}

TEST(SelectionClaim, CountsOnlyWhenTheOwnDeviceAnnouncesThisCopy) {
    struct Row {
        const char* what;
        std::vector<Event> events;
        Outcome outcome;
    };
    const Row rows[] = {
        {"nothing said yet", {}, Outcome::pending},
        {"announced as this copy's", {Event::ownSelection}, Outcome::taken},
        {"announced, then the round trip", {Event::ownSelection, Event::caughtUp}, Outcome::taken},
        {"another client's selection still on its way, then this copy's",
         {Event::otherSelection, Event::ownSelection}, Outcome::taken},
        {"a cleared selection still on its way, then this copy's", {Event::clearedSelection, Event::ownSelection},
         Outcome::taken},
        {"taken, then overtaken by another client", {Event::ownSelection, Event::cancelled, Event::otherSelection},
         Outcome::taken},
        {"the compositor ignored the request", {Event::caughtUp}, Outcome::refused},
        {"another client's selection, then the round trip", {Event::otherSelection, Event::caughtUp}, Outcome::refused},
        {"overtaken before the announcement", {Event::cancelled, Event::ownSelection}, Outcome::refused},
        {"overtaken, then another client's selection", {Event::cancelled, Event::otherSelection}, Outcome::refused},
        {"the previous copy announced late is not this one", {Event::earlierOwnSelection, Event::caughtUp},
         Outcome::refused},
        {"the compositor went away", {Event::abandoned, Event::ownSelection}, Outcome::refused},
        {"the compositor went away after the announcement", {Event::ownSelection, Event::abandoned}, Outcome::taken},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SelectionClaim claim(7, 2);
        for (const Event event : row.events) {
            apply(claim, event);
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
    EXPECT_EQ(first.marker().rfind("application/", 0), 0u);
    EXPECT_EQ(first.marker().find_first_of(" \t\n"), std::string::npos);
}

} // namespace
} // namespace quenlitor::platform::wayland
