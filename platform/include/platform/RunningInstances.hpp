#pragma once

#include <string_view>

namespace quenlitor::platform {

// The single-instance rule: at most one copy of the application runs per user session.
class RunningInstances {
public:
    virtual ~RunningInstances() = default;

    // Claims the one running copy of the application installed as `applicationId` for this
    // process, which keeps the claim until it ends. False when another process holds it.
    virtual bool claimSingleInstance(std::string_view applicationId) = 0;
};

} // namespace quenlitor::platform
