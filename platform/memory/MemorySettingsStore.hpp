#pragma once

#include "platform/SettingsStore.hpp"

#include <map>
#include <string>

namespace quenlitor::platform::memory {

// Settings in a map of typed values, open to inspection.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<SettingsValue> objectForKey(std::string_view key) const override {
        const auto found = values.find(std::string(key));
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void setObject(std::string_view key, SettingsValue value) override {
        values.insert_or_assign(std::string(key), std::move(value));
        ++writeCount;
    }
    std::optional<std::string> lastWriteError() const override { return writeError; }

    std::map<std::string, SettingsValue> values;
    int writeCount = 0;
    // What every write reports as lastWriteError(); none makes writes succeed.
    std::optional<std::string> writeError;
};

} // namespace quenlitor::platform::memory
