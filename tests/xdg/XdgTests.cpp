// The free desktop's plain parts: data files found through the XDG directories, and the
// single-instance lock.
#include "platform/xdg/LockFileRunningInstances.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#include "platform/xdg/XdgDirectories.hpp"

#include "platform/Error.hpp"
#include "support/Files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quenlitor::platform::xdg {
namespace {

using quenlitor::testing::readWhole;
using quenlitor::testing::ScopedEnvironment;
using quenlitor::testing::TemporaryDirectory;

TEST(XdgBundleResources, FirstFolderHoldingTheResourceWins) {
    const TemporaryDirectory folder;
    folder.write("b/diccionario_acordes.json", "b");
    folder.write("c/diccionario_acordes.json", "c");
    std::filesystem::create_directories(folder.path() / "a" / "otro.json");
    const XdgBundleResources bundle(
        {folder.path() / "a", folder.path() / "missing", folder.path() / "b", folder.path() / "c"});

    EXPECT_EQ(bundle.resourcePath("diccionario_acordes", "json"), folder.path() / "b" / "diccionario_acordes.json");
    EXPECT_EQ(bundle.resourcePath("otro", "json"), std::nullopt) << "a folder is no resource";
    EXPECT_EQ(bundle.resourcePath("diccionario_acordes", "txt"), std::nullopt);
    for (const auto& [name, extension] :
         std::vector<std::pair<std::string, std::string>>{{"../b/diccionario_acordes", "json"},
                                                          {"b/diccionario_acordes", "json"},
                                                          {"diccionario_acordes", "json/.."},
                                                          {"..", ""},
                                                          {"", "json"}}) {
        SCOPED_TRACE(name + "." + extension);
        EXPECT_EQ(bundle.resourcePath(name, extension), std::nullopt);
    }
    EXPECT_EQ(bundle.applicationId(), "local.quenlitor.midi-texto");
}

// Files up to the limit are read whole; beyond it they are refused before being held, a regular
// file by its size, a device (which, like a pipe, tells none) by counting across reads.
TEST(XdgBundleResources, ReadFileGivesTheBytesOrTheReason) {
    const TemporaryDirectory folder;
    const XdgBundleResources bundle({folder.path()}, 100'000);
    const std::string contents("{\"chords\": []}\n\0fin", 19);
    const std::vector<std::uint8_t> bytes = bundle.readFile(folder.write("diccionario_acordes.json", contents));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents);
    EXPECT_TRUE(bundle.readFile(folder.write("vacío.json", "")).empty());
    EXPECT_EQ(bundle.readFile(folder.write("justo.json", std::string(100'000, ' '))).size(), 100'000u);

    const std::string tooLarge = ": el archivo pasa de 100000 bytes; no se lee";
    const struct {
        std::filesystem::path path;
        int number;
        std::string reason;
    } failures[] = {
        {folder.path() / "no-existe.json", ENOENT, std::string(": ") + std::strerror(ENOENT)},
        {folder.path(), EISDIR, std::string(": ") + std::strerror(EISDIR)},
        {folder.write("grande.json", std::string(100'001, ' ')), EFBIG, tooLarge},
        {"/dev/zero", EFBIG, tooLarge},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.path.string());
        try {
            bundle.readFile(failure.path);
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), "posix");
            EXPECT_EQ(error.code(), failure.number);
            EXPECT_EQ(error.description(), failure.path.string() + failure.reason);
        }
    }
}

TEST(XdgBundleResources, DefaultSearchGoesFromInstalledDataToTheBuildTree) {
    const ScopedEnvironment home("HOME", "/home/ana");
    const ScopedEnvironment dataHome("XDG_DATA_HOME", "relativa"); // ignored, as if unset
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
    const TemporaryDirectory folder;
    auto first = std::make_unique<LockFileRunningInstances>(folder.path());
    LockFileRunningInstances second(folder.path());
    const std::string identifier(platform::defaultApplicationId);

    EXPECT_TRUE(first->claimSingleInstance(identifier));
    EXPECT_TRUE(first->claimSingleInstance(identifier)) << "asking again keeps the lock";
    EXPECT_FALSE(second.claimSingleInstance(identifier));
    EXPECT_TRUE(second.claimSingleInstance("otra.aplicacion"));
    EXPECT_EQ(readWhole(first->lockPath(identifier)), std::to_string(::getpid()) + "\n");

    first.reset();
    EXPECT_TRUE(second.claimSingleInstance(identifier));
    EXPECT_EQ(second.lockPath("a/b"), folder.path() / "a_b.lock");
}

TEST(LockFileRunningInstances, LockGoesWithAProcessThatDies) {
    const TemporaryDirectory folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LockFileRunningInstances holder(folder.path());
        const char answer = holder.claimSingleInstance("local.quenlitor.midi-texto") ? '1' : '2';
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
    EXPECT_FALSE(instances.claimSingleInstance("local.quenlitor.midi-texto"));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(instances.claimSingleInstance("local.quenlitor.midi-texto"))
        << "a killed holder leaves no stale lock";
}

TEST(LockFileRunningInstances, FolderOthersCanWriteIntoIsNotTrusted) {
    const TemporaryDirectory folder;
    const auto shared = folder.path() / "compartida";
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    LockFileRunningInstances first(shared);
    LockFileRunningInstances second(shared);
    EXPECT_TRUE(first.claimSingleInstance("local.quenlitor.midi-texto"));
    EXPECT_TRUE(second.claimSingleInstance("local.quenlitor.midi-texto"));
    EXPECT_FALSE(std::filesystem::exists(first.lockPath("local.quenlitor.midi-texto")));

    // A missing folder is made, private.
    LockFileRunningInstances made(folder.path() / "nueva");
    EXPECT_TRUE(made.claimSingleInstance("local.quenlitor.midi-texto"));
    struct stat status {};
    ASSERT_EQ(::stat((folder.path() / "nueva").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

} // namespace
} // namespace quenlitor::platform::xdg
