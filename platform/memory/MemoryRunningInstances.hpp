#pragma once

#include "platform/RunningInstances.hpp"

#include <map>
#include <string>
#include <vector>

namespace quenlitor::platform::memory {

// Other running copies as the test declares them; this process always counts as one.
class MemoryRunningInstances final : public RunningInstances {
public:
    std::size_t runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) override {
        asked.emplace_back(bundleIdentifier);
        const auto found = others.find(std::string(bundleIdentifier));
        return 1 + (found == others.end() ? 0 : found->second);
    }

    std::map<std::string, std::size_t> others;
    std::vector<std::string> asked;
};

} // namespace quenlitor::platform::memory
