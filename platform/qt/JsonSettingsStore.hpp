#pragma once

#include "platform/SettingsStore.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenlitor::platform::qt {

// The settings as one JSON object in a file of the user's, read at the first access and written
// whole after every change through a temporary file renamed over it, so a crash mid-write leaves
// the previous file. Values keep their JSON types: integers as 64-bit integers, other numbers as
// doubles, texts, booleans and arrays; null, objects and integers beyond 64 bits read as
// SettingsOther. Keys this store is never asked about stay in the file as they were.
//
// A file that cannot be read as a JSON object is left untouched until the first write, which
// first renames it to "<name>.dañado-<date>-<time>" so that nothing the user had is lost; until
// then every key reads as absent. When it cannot be moved aside the new values are kept in memory
// only.
class JsonSettingsStore final : public SettingsStore {
public:
    explicit JsonSettingsStore(std::filesystem::path file);
    ~JsonSettingsStore() override;

    JsonSettingsStore(const JsonSettingsStore&) = delete;
    JsonSettingsStore& operator=(const JsonSettingsStore&) = delete;

    // $XDG_CONFIG_HOME/quenlitor-midi-texto/ajustes.json, ~/.config standing in for an unset
    // $XDG_CONFIG_HOME.
    static std::filesystem::path defaultPath();

    std::optional<SettingsValue> objectForKey(std::string_view key) const override;
    void setObject(std::string_view key, SettingsValue value) override;

    const std::filesystem::path& path() const { return m_path; }
    // Where the unreadable file was moved to, once a write has moved it.
    const std::optional<std::filesystem::path>& backupPath() const { return m_backupPath; }
    // Why the last write did not reach the disk; none after one that did.
    std::optional<std::string> lastWriteError() const override { return m_lastWriteError; }

private:
    struct Contents;

    static Contents readContents(const std::filesystem::path& path);
    Contents& contents() const;
    bool moveDamagedFileAside();
    void write();

    std::filesystem::path m_path;
    // Read at the first access, so that a copy that quits at once never touches the file.
    mutable std::unique_ptr<Contents> m_contents;
    std::optional<std::filesystem::path> m_backupPath;
    std::optional<std::string> m_lastWriteError;
};

} // namespace quenlitor::platform::qt
