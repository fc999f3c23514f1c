#pragma once

#include "platform/RunningInstances.hpp"

#include <set>
#include <string>
#include <vector>

namespace quenlitor::platform::memory {

// Other running copies as the test declares them: a claim succeeds unless `heldElsewhere` holds
// the identifier.
class MemoryRunningInstances final : public RunningInstances {
public:
    bool claimSingleInstance(std::string_view applicationId) override {
        asked.emplace_back(applicationId);
        return !heldElsewhere.contains(std::string(applicationId));
    }

    std::set<std::string> heldElsewhere;
    std::vector<std::string> asked;
};

} // namespace quenlitor::platform::memory
