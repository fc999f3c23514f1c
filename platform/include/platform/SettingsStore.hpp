#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenlitor::platform {

// One stored value. Integers are kept whole (64 bits) so the reader, not the store, decides what
// fits; anything the store cannot type becomes `Other`.
struct SettingsValue;
using SettingsArray = std::vector<SettingsValue>;
struct SettingsOther {
    bool operator==(const SettingsOther&) const = default;
};
struct SettingsValue : std::variant<bool, std::int64_t, double, std::string, SettingsArray, SettingsOther> {
    using variant::variant;
};

// The user's persistent key-value store for the application's settings.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The value stored under `key`, if any.
    virtual std::optional<SettingsValue> objectForKey(std::string_view key) const = 0;
    // The value under `key` when it is an array; none otherwise.
    std::optional<SettingsArray> arrayForKey(std::string_view key) const;
    // The value under `key` read as a boolean: true for `true` and for non-zero numbers, false
    // for everything else and when nothing is stored.
    bool boolForKey(std::string_view key) const;

    // Store a value for the next start. The value is kept in memory even when it cannot be
    // persisted; lastWriteError() then says why.
    virtual void setObject(std::string_view key, SettingsValue value) = 0;
    void setBool(std::string_view key, bool value) { setObject(key, SettingsValue(value)); }
    // Why the last write did not reach lasting storage, for the user; none after one that did.
    virtual std::optional<std::string> lastWriteError() const = 0;
};

inline std::optional<SettingsArray> SettingsStore::arrayForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (value && std::holds_alternative<SettingsArray>(*value)) {
        return std::get<SettingsArray>(*value);
    }
    return std::nullopt;
}

inline bool SettingsStore::boolForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value) {
        return false;
    }
    if (const bool* flag = std::get_if<bool>(&*value)) {
        return *flag;
    }
    if (const std::int64_t* number = std::get_if<std::int64_t>(&*value)) {
        return *number != 0;
    }
    if (const double* number = std::get_if<double>(&*value)) {
        return *number != 0.0;
    }
    return false;
}

} // namespace quenlitor::platform
