#pragma once

#include "platform/Application.hpp"
#include "platform/BundleResources.hpp"
#include "platform/Clipboard.hpp"
#include "platform/MIDIPlatform.hpp"
#include "platform/MainQueue.hpp"
#include "platform/Menu.hpp"
#include "platform/RunningInstances.hpp"
#include "platform/SettingsStore.hpp"

#include <memory>

namespace quenlitor::platform {

// Everything the application reaches of the desktop, from one binding.
struct Desktop {
    std::shared_ptr<Application> application;
    std::shared_ptr<MenuFactory> menus;
    std::shared_ptr<Clipboard> clipboard;
    std::shared_ptr<SettingsStore> defaults;
    std::shared_ptr<BundleResources> bundle;
    std::shared_ptr<RunningInstances> runningInstances;
    std::shared_ptr<MIDIPlatform> midi;
    std::shared_ptr<MainQueue> mainQueue;
};

} // namespace quenlitor::platform
