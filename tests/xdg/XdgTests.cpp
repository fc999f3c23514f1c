// The free desktop's plain parts: data files found through the XDG directories, and the
// single-instance lock.
#include "platform/xdg/LockFileRunningInstances.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#include "platform/xdg/XdgDirectories.hpp"

#include "platform/Error.hpp"
#include "support/Files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quenlitor::platform::xdg {
namespace {

using namespace quenlitor::testing;
const std::string id(platform::defaultApplicationId);

TEST(XdgBundleResources, FirstFolderHoldingTheResourceWins) {
    const TemporaryDirectory folder;
    folder.write("b/diccionario_acordes.json", "b");
    folder.write("c/diccionario_acordes.json", "c");
    std::filesystem::create_directories(folder.path() / "a" / "otro.json");
    const XdgBundleResources bundle({folder.path() / "a", folder.path() / "falta", folder.path() / "b", folder.path() / "c"});
    EXPECT_EQ(bundle.resourcePath("diccionario_acordes", "json"), folder.path() / "b" / "diccionario_acordes.json");
    // A folder is no resource, and no name reaches out of the folders.
    for (const auto& [name, extension] : std::vector<std::pair<std::string, std::string>>{
             {"otro", "json"}, {"diccionario_acordes", "txt"}, {"../b/diccionario_acordes", "json"},
             {"b/diccionario_acordes", "json"}, {"diccionario_acordes", "json/.."}, {"..", ""}, {"", "json"}}) {
        EXPECT_EQ(bundle.resourcePath(name, extension), std::nullopt) << name << "." << extension;
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
    EXPECT_EQ(bundle.readFile(folder.write("justo.json", std::string(100'000, ' '))).size(), 100'000u);
    const std::string tooLarge = ": el archivo pasa de 100000 bytes; no se lee";
    const std::tuple<std::filesystem::path, int, std::string> failures[] = {
        {folder.path() / "no-existe.json", ENOENT, std::string(": ") + std::strerror(ENOENT)},
        {folder.path(), EISDIR, std::string(": ") + std::strerror(EISDIR)},
        {folder.write("grande.json", std::string(100'001, ' ')), EFBIG, tooLarge},
        {"/dev/zero", EFBIG, tooLarge},
    };
    for (const auto& [path, number, reason] : failures) {
        try {
            ADD_FAILURE() << bundle.readFile(path).size() << " bytes from " << path;
        } catch (const Error& error) {
            EXPECT_EQ(std::tuple(error.domain(), error.code(), error.description()), std::tuple("posix", number, path.string() + reason));
        }
    }
}

TEST(XdgBundleResources, DefaultSearchGoesFromInstalledDataToTheBuildTree) {
    const ScopedEnvironment home("HOME", "/home/ana");
    const ScopedEnvironment dataHome("XDG_DATA_HOME", "relativa"); // ignored, as if unset
    const ScopedEnvironment dataDirs("XDG_DATA_DIRS", "/opt/datos:relativa::/usr/share/");
    const auto executable = xdg::executableDirectory();
    ASSERT_TRUE(executable.has_value());
    EXPECT_EQ(XdgBundleResources::defaultSearchDirectories(),
              (std::vector<std::filesystem::path>{"/home/ana/.local/share/quenlitor-midi-texto",
                                                  (*executable / "../share/quenlitor-midi-texto").lexically_normal(),
                                                  "/opt/datos/quenlitor-midi-texto", "/usr/share/quenlitor-midi-texto",
                                                  *executable}));
    const ScopedEnvironment noDataDirs("XDG_DATA_DIRS", "");
    const auto directories = XdgBundleResources::defaultSearchDirectories();
    ASSERT_GE(directories.size(), 3u);
    EXPECT_EQ(std::vector(directories.end() - 3, directories.end() - 1),
              (std::vector<std::filesystem::path>{"/usr/local/share/quenlitor-midi-texto", "/usr/share/quenlitor-midi-texto"}));
}

TEST(LockFileRunningInstances, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    const TemporaryDirectory folder;
    auto first = std::make_unique<LockFileRunningInstances>(folder.path());
    LockFileRunningInstances second(folder.path());
    EXPECT_TRUE(first->claimSingleInstance(id));
    EXPECT_TRUE(first->claimSingleInstance(id)) << "asking again keeps the lock";
    EXPECT_FALSE(second.claimSingleInstance(id));
    EXPECT_TRUE(second.claimSingleInstance("otra.aplicacion"));
    first.reset();
    EXPECT_TRUE(second.claimSingleInstance(id));
    EXPECT_EQ(second.lockPath("a/b"), folder.path() / "a_b.lock");

    // A holder that dies without letting go leaves no stale lock.
    const TemporaryDirectory other;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(LockFileRunningInstances(other.path()).claimSingleInstance(id) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::filesystem::exists(LockFileRunningInstances(other.path()).lockPath(id)));
    EXPECT_TRUE(LockFileRunningInstances(other.path()).claimSingleInstance(id));
}

TEST(LockFileRunningInstances, FolderOthersCanWriteIntoIsNotTrusted) {
    const TemporaryDirectory folder;
    const auto shared = folder.path() / "compartida";
    std::filesystem::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    LockFileRunningInstances first(shared), second(shared);
    EXPECT_TRUE(first.claimSingleInstance(id));
    EXPECT_TRUE(second.claimSingleInstance(id));
    EXPECT_FALSE(std::filesystem::exists(first.lockPath(id)));
    // A missing folder is made, private.
    EXPECT_TRUE(LockFileRunningInstances(folder.path() / "nueva").claimSingleInstance(id));
    struct stat made {};
    ASSERT_EQ(::stat((folder.path() / "nueva").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700u);
}

} // namespace
} // namespace quenlitor::platform::xdg
