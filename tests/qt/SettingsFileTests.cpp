#include "platform/qt/JsonSettingsStore.hpp"

#include "QtTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>

namespace quenlitor::platform::qt {
namespace {

using quenlitor::testing::readWhole;
using quenlitor::testing::ScopedEnvironment;
using quenlitor::testing::TemporaryDirectory;

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path().filename());
    }
    std::ranges::sort(files);
    return files;
}

TEST(JsonSettingsStore, ValuesSurviveARestart) {
    const TemporaryDirectory folder;
    const auto path = folder.path() / "config" / "quenlitor-midi-texto" / "ajustes.json";
    {
        JsonSettingsStore store(path);
        EXPECT_EQ(store.objectForKey("includeTitle"), std::nullopt);
        store.setBool("includeTitle", false);
        store.setObject("disabledSources", SettingsArray{std::int64_t{5}, std::int64_t{-7}});
        EXPECT_EQ(store.lastWriteError(), std::nullopt);
    }
    JsonSettingsStore store(path);
    EXPECT_EQ(store.objectForKey("includeTitle"), SettingsValue(false));
    EXPECT_EQ(store.arrayForKey("disabledSources"), (SettingsArray{std::int64_t{5}, std::int64_t{-7}}));
    EXPECT_EQ(nlohmann::json::parse(readWhole(path)),
              nlohmann::json::parse(R"({"includeTitle":false,"disabledSources":[5,-7]})"));
    EXPECT_THAT(filesIn(path.parent_path()), ::testing::ElementsAre("ajustes.json"))
        << "no temporary file is left behind";
}

TEST(JsonSettingsStore, JsonValuesKeepTheirTypes) {
    const struct {
        const char* json;
        SettingsValue expected;
    } rows[] = {
        {"true", true},
        {"0", std::int64_t{0}},
        {"-7", std::int64_t{-7}},
        {"4294967296", std::int64_t{4294967296}},
        {"9223372036854775807", std::int64_t{INT64_MAX}},
        {"-9223372036854775808", std::int64_t{INT64_MIN}},
        {"18446744073709551615", SettingsOther{}},
        {"5.0", 5.0},
        {"\"Teclado\"", std::string("Teclado")},
        {"[5, \"x\", [true]]", SettingsArray{std::int64_t{5}, std::string("x"), SettingsArray{true}}},
        {"[]", SettingsArray{}},
        {"null", SettingsOther{}},
        {"{\"a\": 1}", SettingsOther{}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        const TemporaryDirectory folder;
        const auto path = folder.write("ajustes.json", std::string(R"({"clave": )") + row.json + "}");
        const JsonSettingsStore store(path);
        EXPECT_EQ(store.objectForKey("clave"), row.expected);
    }
}

TEST(JsonSettingsStore, MalformedFileIsKeptAsideBeforeTheFirstWrite) {
    // The last: well-formed, but larger than any settings file of ours (never read whole).
    const std::string rows[] = {"{\"includeTitle\": fals", "[false]", "", "\"includeTitle\"", "{\"a\": \"\xff\"}", "\x01\x02",
                                "{\"includeTitle\": false, \"x\": 1E400}",
                                // Nesting that no settings file of ours has, deep enough to exhaust a stack
                                // if it were followed all the way down.
                                "{\"includeTitle\": false, \"x\": " + std::string(400'000, '[') + std::string(400'000, ']') + "}",
                                "{\"includeTitle\": false, \"x\": \"" + std::string(2 << 20, 'x') + "\"}"};
    // All in one folder, most likely within one second: no backup may replace another.
    const TemporaryDirectory folder;
    std::set<std::filesystem::path> backups;
    for (const std::string& original : rows) {
        SCOPED_TRACE(original.substr(0, 40));
        const auto path = folder.write("ajustes.json", original);
        JsonSettingsStore store(path);
        EXPECT_EQ(store.objectForKey("includeTitle"), std::nullopt);
        EXPECT_FALSE(store.boolForKey("includeTitle"));
        EXPECT_EQ(readWhole(path), original) << "reading never touches the file";

        store.setBool("includeTitle", false);
        ASSERT_TRUE(store.backupPath().has_value());
        EXPECT_EQ(readWhole(*store.backupPath()), original);
        EXPECT_EQ(store.backupPath()->parent_path(), path.parent_path());
        EXPECT_THAT(store.backupPath()->filename().string(), ::testing::StartsWith("ajustes.json.dañado-"));
        EXPECT_EQ(nlohmann::json::parse(readWhole(path)), nlohmann::json::parse(R"({"includeTitle":false})"));

        store.setBool("includeTitle", true);
        EXPECT_TRUE(backups.insert(*store.backupPath()).second);
        EXPECT_EQ(filesIn(folder.path()).size(), backups.size() + 1) << "one backup, made once";
    }
}

TEST(JsonSettingsStore, OtherKeysStayAsTheyWere) {
    const TemporaryDirectory folder;
    const auto path =
        folder.write("ajustes.json", R"({"ventana": {"x": 1, "y": null}, "includeTitle": true, "n": 1.25})");
    JsonSettingsStore store(path);
    EXPECT_EQ(store.objectForKey("ventana"), SettingsValue(SettingsOther{}));
    store.setBool("includeTitle", false);
    EXPECT_EQ(nlohmann::json::parse(readWhole(path)),
              nlohmann::json::parse(R"({"ventana": {"x": 1, "y": null}, "includeTitle": false, "n": 1.25})"));
    EXPECT_EQ(store.backupPath(), std::nullopt);
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
    {
        const ScopedEnvironment config("XDG_CONFIG_HOME", "/srv/config");
        EXPECT_EQ(JsonSettingsStore::defaultPath(), "/srv/config/quenlitor-midi-texto/ajustes.json");
    }
    for (const std::optional<std::string>& ignored : {std::optional<std::string>(), std::optional<std::string>(""),
                                                      std::optional<std::string>("relativa/config")}) {
        SCOPED_TRACE(ignored.value_or("(unset)"));
        const ScopedEnvironment config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(JsonSettingsStore::defaultPath(), "/home/ana/.config/quenlitor-midi-texto/ajustes.json");
    }
}

} // namespace
} // namespace quenlitor::platform::qt
