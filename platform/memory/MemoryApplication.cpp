#include "MemoryApplication.hpp"

namespace quenlitor::platform::memory {

int MemoryApplication::run() {
    if (const auto delegate = m_delegate.lock()) {
        delegate->applicationDidFinishLaunching();
    }
    return 0;
}

void MemoryApplication::terminate() {
    ++terminateRequests;
    if (terminated) {
        return;
    }
    terminated = true;
    if (const auto delegate = m_delegate.lock()) {
        delegate->applicationWillTerminate();
    }
}

std::shared_ptr<StatusItem> MemoryApplication::makeStatusItem() {
    statusItems.push_back(std::make_shared<MemoryStatusItem>(statusItemsHaveButtons));
    return statusItems.back();
}

} // namespace quenlitor::platform::memory
