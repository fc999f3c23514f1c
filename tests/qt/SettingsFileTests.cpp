#include "platform/qt/JsonSettingsStore.hpp"

#include "QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>

namespace quenlitor::platform::qt {
namespace {

using namespace quenlitor::testing;
using nlohmann::json;

std::size_t filesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Values come back with their types; keys of others, of kinds we never write, stay as they were.
TEST(JsonSettingsStore, ValuesSurviveARestart) {
    const TemporaryDirectory folder;
    const std::string others = R"("t": true, "neg": -7, "max": 9223372036854775807, "min": -9223372036854775808,
        "huge": 18446744073709551615, "f": 5.0, "s": "Teclado", "a": [5, "x", [true]], "null": null, "o": {"a": 1})";
    const auto path = folder.write("quenlitor-midi-texto/ajustes.json", "{" + others + "}");
    JsonSettingsStore written(path);
    written.setBool("includeTitle", false);
    written.setObject("disabledSources", SettingsArray{std::int64_t{5}, std::int64_t{-7}});
    EXPECT_EQ(written.backupPath(), std::nullopt);
    const JsonSettingsStore store(path);
    EXPECT_EQ(json::parse(readWhole(path)), json::parse("{" + others + R"(, "includeTitle": false, "disabledSources": [5, -7]})"));
    EXPECT_EQ(filesIn(path.parent_path()), 1) << "no temporary file is left behind";
    const std::pair<const char*, SettingsValue> rows[] = {
        {"includeTitle", false}, {"disabledSources", SettingsArray{std::int64_t{5}, std::int64_t{-7}}},
        {"t", true}, {"neg", std::int64_t{-7}}, {"max", std::int64_t{INT64_MAX}}, {"min", std::int64_t{INT64_MIN}},
        {"huge", SettingsOther{}}, {"f", 5.0}, {"s", std::string("Teclado")}, {"null", SettingsOther{}}, {"o", SettingsOther{}},
        {"a", SettingsArray{std::int64_t{5}, std::string("x"), SettingsArray{true}}},
    };
    for (const auto& [key, expected] : rows) {
        SCOPED_TRACE(key);
        EXPECT_EQ(store.objectForKey(key), expected);
    }
}

// No settings of ours: read as none, kept aside once at the first write, each backup its own.
TEST(JsonSettingsStore, MalformedFileIsKeptAsideBeforeTheFirstWrite) {
    const std::string rows[] = {"{\"includeTitle\": fals", "[false]", "", "\"includeTitle\"", "{\"a\": \"\xff\"}",
                                "{\"includeTitle\": false, \"x\": 1E400}",
                                // Deep enough to exhaust a stack if it were followed all the way down.
                                "{\"includeTitle\": false, \"x\": " + std::string(400'000, '[') + std::string(400'000, ']') + "}",
                                // Well-formed, but larger than any settings file of ours: never read whole.
                                "{\"includeTitle\": false, \"x\": \"" + std::string(2 << 20, 'x') + "\"}"};
    const TemporaryDirectory folder;
    std::set<std::filesystem::path> backups;
    for (const std::string& original : rows) {
        SCOPED_TRACE(original.substr(0, 40));
        const auto path = folder.write("ajustes.json", original);
        JsonSettingsStore store(path);
        EXPECT_EQ(store.objectForKey("includeTitle"), std::nullopt);
        EXPECT_EQ(readWhole(path), original) << "reading never touches the file";
        store.setBool("includeTitle", false);
        store.setBool("includeTitle", true);
        ASSERT_TRUE(store.backupPath().has_value());
        EXPECT_EQ(readWhole(*store.backupPath()), original);
        EXPECT_TRUE(store.backupPath()->string().starts_with(path.string() + ".dañado-"));
        EXPECT_EQ(json::parse(readWhole(path)), json::parse(R"({"includeTitle":true})"));
        EXPECT_TRUE(backups.insert(*store.backupPath()).second);
        EXPECT_EQ(filesIn(folder.path()), backups.size() + 1) << "one backup, made once";
    }
}

TEST(JsonSettingsStore, WriteThatCannotReachTheDiskKeepsTheValue) {
    const TemporaryDirectory folder;
    // A file where the folder should be: no one, not even root, can write below it.
    const auto blocker = folder.write("config", "un archivo");
    JsonSettingsStore store(blocker / "ajustes.json");
    store.setObject("disabledSources", SettingsArray{std::int64_t{3}});
    EXPECT_TRUE(store.lastWriteError().has_value());
    EXPECT_EQ(store.arrayForKey("disabledSources"), SettingsArray{std::int64_t{3}});
    EXPECT_EQ(readWhole(blocker), "un archivo");
    std::filesystem::remove(blocker);
    store.setObject("disabledSources", SettingsArray{std::int64_t{3}});
    EXPECT_EQ(store.lastWriteError(), std::nullopt) << "a write that succeeds clears the error";
}

TEST(JsonSettingsStore, DefaultPathIsInTheUsersConfigurationFolder) {
    const ScopedEnvironment home("HOME", "/home/ana");
    for (const auto& [config, expected] : {std::pair<std::optional<std::string>, const char*>{"/srv/config", "/srv/config"},
                                           {std::nullopt, "/home/ana/.config"}, {"", "/home/ana/.config"},
                                           {"relativa/config", "/home/ana/.config"}}) {
        SCOPED_TRACE(config.value_or("(unset)"));
        const ScopedEnvironment xdg("XDG_CONFIG_HOME", config);
        EXPECT_EQ(JsonSettingsStore::defaultPath(), std::string(expected) + "/quenlitor-midi-texto/ajustes.json");
    }
}

} // namespace
} // namespace quenlitor::platform::qt
