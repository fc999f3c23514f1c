#include "platform/qt/JsonSettingsStore.hpp"

#include "Error.hpp"
#include "QtTestSupport.hpp"
#include "platform/xdg/LockFileRunningInstances.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#include "platform/xdg/XdgDirectories.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quenlitor::platform {

void PrintTo(const SettingsValue& value, std::ostream* out) {
    std::visit(
        [out](const auto& alternative) {
            using Alternative = std::decay_t<decltype(alternative)>;
            if constexpr (std::is_same_v<Alternative, SettingsArray>) {
                *out << "[";
                for (const SettingsValue& element : alternative) {
                    PrintTo(element, out);
                    *out << ",";
                }
                *out << "]";
            } else if constexpr (std::is_same_v<Alternative, SettingsOther>) {
                *out << "Other";
            } else if constexpr (std::is_same_v<Alternative, std::string>) {
                *out << '"' << alternative << '"';
            } else if constexpr (std::is_same_v<Alternative, double>) {
                *out << alternative << " (double)";
            } else {
                *out << alternative;
            }
        },
        static_cast<const SettingsValue::variant&>(value));
}

namespace qt {
namespace {

using quenlitor::testing::readWhole;
using xdg::LockFileRunningInstances;
using xdg::XdgBundleResources;
using quenlitor::testing::ScopedEnvironment;
using quenlitor::testing::TemporaryFolder;

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path().filename());
    }
    std::ranges::sort(files);
    return files;
}

TEST(JsonSettingsStore, ValuesSurviveARestart) {
    const TemporaryFolder folder;
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
        {"-1.5e3", -1500.0},
        {"\"Teclado\"", std::string("Teclado")},
        {"[5, \"x\", [true]]", SettingsArray{std::int64_t{5}, std::string("x"), SettingsArray{true}}},
        {"[]", SettingsArray{}},
        {"null", SettingsOther{}},
        {"{\"a\": 1}", SettingsOther{}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        const TemporaryFolder folder;
        const auto path = folder.write("ajustes.json", std::string(R"({"clave": )") + row.json + "}");
        const JsonSettingsStore store(path);
        EXPECT_EQ(store.objectForKey("clave"), row.expected);
    }
}

TEST(JsonSettingsStore, MalformedFileIsKeptAsideBeforeTheFirstWrite) {
    const char* const rows[] = {"{\"includeTitle\": fals", "[false]",           "",
                                "\"includeTitle\"",        "{\"a\": \"\xff\"}", "\x01\x02"};
    for (const char* original : rows) {
        SCOPED_TRACE(original);
        const TemporaryFolder folder;
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
        EXPECT_EQ(filesIn(folder.path()).size(), 2u) << "one backup, made once";
    }
}

TEST(JsonSettingsStore, BackupsOfTheSameSecondDoNotReplaceEachOther) {
    const TemporaryFolder folder;
    std::set<std::filesystem::path> backups;
    for (const std::string original : {"uno", "dos", "tres"}) {
        const auto path = folder.write("ajustes.json", original);
        JsonSettingsStore store(path);
        store.setBool("includeTitle", true);
        ASSERT_TRUE(store.backupPath().has_value());
        EXPECT_EQ(readWhole(*store.backupPath()), original);
        backups.insert(*store.backupPath());
    }
    EXPECT_EQ(backups.size(), 3u);
}

TEST(JsonSettingsStore, OtherKeysStayAsTheyWere) {
    const TemporaryFolder folder;
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
    const TemporaryFolder folder;
    // A file where the folder should be: no one, not even root, can write below it.
    const auto blocker = folder.write("config", "un archivo");
    JsonSettingsStore store(blocker / "ajustes.json");
    store.setObject("disabledSources", SettingsArray{std::int64_t{3}});
    EXPECT_TRUE(store.lastWriteError().has_value());
    EXPECT_EQ(store.arrayForKey("disabledSources"), SettingsArray{std::int64_t{3}});
    EXPECT_EQ(readWhole(blocker), "un archivo");
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

TEST(XdgBundleResources, FirstFolderHoldingTheResourceWins) {
    const TemporaryFolder folder;
    folder.write("b/diccionario_acordes.json", "b");
    folder.write("c/diccionario_acordes.json", "c");
    std::filesystem::create_directories(folder.path() / "a" / "otro.json");
    const XdgBundleResources bundle(
        {folder.path() / "a", folder.path() / "missing", folder.path() / "b", folder.path() / "c"});

    EXPECT_EQ(bundle.urlForResource("diccionario_acordes", "json"), folder.path() / "b" / "diccionario_acordes.json");
    EXPECT_EQ(bundle.urlForResource("otro", "json"), std::nullopt) << "a folder is no resource";
    EXPECT_EQ(bundle.urlForResource("diccionario_acordes", "txt"), std::nullopt);
    for (const auto& [name, extension] :
         std::vector<std::pair<std::string, std::string>>{{"../b/diccionario_acordes", "json"},
                                                          {"b/diccionario_acordes", "json"},
                                                          {"diccionario_acordes", "json/.."},
                                                          {"..", ""},
                                                          {"", "json"}}) {
        SCOPED_TRACE(name + "." + extension);
        EXPECT_EQ(bundle.urlForResource(name, extension), std::nullopt);
    }
    EXPECT_EQ(bundle.bundleIdentifier(), "local.quenlitor.midi-texto");
}

TEST(XdgBundleResources, ReadFileGivesTheBytesOrTheSystemsReason) {
    const TemporaryFolder folder;
    const std::string contents("{\"chords\": []}\n\0fin", 19);
    const auto file = folder.write("diccionario_acordes.json", contents);
    const XdgBundleResources bundle({folder.path()});
    const std::vector<std::uint8_t> bytes = bundle.readFile(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents);
    EXPECT_TRUE(bundle.readFile(folder.write("vacío.json", "")).empty());

    const struct {
        std::filesystem::path path;
        int number;
    } failures[] = {{folder.path() / "no-existe.json", ENOENT}, {folder.path(), EISDIR}};
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.path.string());
        try {
            bundle.readFile(failure.path);
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "posix");
            EXPECT_EQ(error.code(), failure.number);
            EXPECT_EQ(error.description(), failure.path.string() + ": " + std::strerror(failure.number));
        }
    }
}

TEST(XdgBundleResources, DefaultSearchGoesFromInstalledDataToTheBuildTree) {
    const ScopedEnvironment home("HOME", "/home/ana");
    const ScopedEnvironment dataHome("XDG_DATA_HOME", std::nullopt);
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", "/opt/datos:relativa::/usr/share/");
    const auto executable = xdg::executableDirectory();
    ASSERT_TRUE(executable.has_value());
    EXPECT_EQ(
        XdgBundleResources::defaultSearchDirectories(),
        (std::vector<std::filesystem::path>{"/home/ana/.local/share/quenlitor-midi-texto",
                                            (*executable / "../share/quenlitor-midi-texto").lexically_normal(),
                                            "/opt/datos/quenlitor-midi-texto", "/usr/share/quenlitor-midi-texto",
                                            *executable}));

    const ScopedEnvironment noDataDirs("XDG_DATA_DIRS", "");
    const auto directories = XdgBundleResources::defaultSearchDirectories();
    ASSERT_GE(directories.size(), 2u);
    EXPECT_EQ(std::vector(directories.end() - 3, directories.end() - 1),
              (std::vector<std::filesystem::path>{"/usr/local/share/quenlitor-midi-texto",
                                                  "/usr/share/quenlitor-midi-texto"}));
}

TEST(LockFileRunningInstances, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    const TemporaryFolder folder;
    auto first = std::make_unique<LockFileRunningInstances>(folder.path());
    LockFileRunningInstances second(folder.path());
    const std::string identifier(XdgBundleResources::identifier);

    EXPECT_EQ(first->runningApplicationsWithBundleIdentifier(identifier), 1u);
    EXPECT_EQ(first->runningApplicationsWithBundleIdentifier(identifier), 1u) << "asking again keeps the lock";
    EXPECT_EQ(second.runningApplicationsWithBundleIdentifier(identifier), 2u);
    EXPECT_EQ(second.runningApplicationsWithBundleIdentifier("otra.aplicacion"), 1u);
    EXPECT_EQ(readWhole(first->lockPath(identifier)), std::to_string(::getpid()) + "\n");

    first.reset();
    EXPECT_EQ(second.runningApplicationsWithBundleIdentifier(identifier), 1u);
    EXPECT_EQ(second.lockPath("a/b"), folder.path() / "a_b.lock");
}

TEST(LockFileRunningInstances, LockGoesWithAProcessThatDies) {
    const TemporaryFolder folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LockFileRunningInstances holder(folder.path());
        const char answer =
            holder.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto") == 1 ? '1' : '2';
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &answer, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, '1');

    LockFileRunningInstances instances(folder.path());
    EXPECT_EQ(instances.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto"), 2u);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(instances.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto"), 1u)
        << "a killed holder leaves no stale lock";
}

TEST(LockFileRunningInstances, FolderOthersCanWriteIntoIsNotTrusted) {
    const TemporaryFolder folder;
    const auto shared = folder.path() / "compartida";
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    LockFileRunningInstances first(shared);
    LockFileRunningInstances second(shared);
    EXPECT_EQ(first.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto"), 1u);
    EXPECT_EQ(second.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto"), 1u);
    EXPECT_FALSE(std::filesystem::exists(first.lockPath("local.quenlitor.midi-texto")));

    // A missing folder is made, private.
    LockFileRunningInstances made(folder.path() / "nueva");
    EXPECT_EQ(made.runningApplicationsWithBundleIdentifier("local.quenlitor.midi-texto"), 1u);
    struct stat status {};
    ASSERT_EQ(::stat((folder.path() / "nueva").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

} // namespace
} // namespace qt
} // namespace quenlitor::platform
