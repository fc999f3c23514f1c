#pragma once

#include <cstddef>
#include <string_view>

namespace quenlitor::platform {

// Which copies of the application run now, for the single-instance rule.
class RunningInstances {
public:
    virtual ~RunningInstances() = default;

    // How many processes run the application installed as `bundleIdentifier`, this one included.
    virtual std::size_t runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) = 0;
};

} // namespace quenlitor::platform
