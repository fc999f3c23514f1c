#include "DictionaryLookup.hpp"

#include "Error.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quenlitor::tokens {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The XDG base directories; relative entries are invalid and skipped.
std::vector<fs::path> dataDirectories() {
    std::vector<fs::path> directories;
    fs::path home = environment("XDG_DATA_HOME");
    if (home.is_relative() && !environment("HOME").empty()) {
        home = fs::path(environment("HOME")) / ".local" / "share";
    }
    if (home.is_absolute()) {
        directories.push_back(home);
    }
    std::string shared = environment("XDG_DATA_DIRS");
    if (shared.empty()) {
        shared = "/usr/local/share:/usr/share";
    }
    for (std::size_t start = 0; start <= shared.size();) {
        const std::size_t end = std::min(shared.find(':', start), shared.size());
        if (const fs::path directory = shared.substr(start, end - start); directory.is_absolute()) {
            directories.push_back(directory);
        }
        start = end + 1;
    }
    return directories;
}

Error readError(const fs::path& path) {
    const int number = errno;
    return Error("POSIX", number, path.string() + ": " + std::strerror(number));
}

std::vector<std::uint8_t> readWhole(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw readError(path);
    }
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + count);
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            const Error error = readError(path);
            ::close(fd);
            throw error;
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace

std::vector<fs::path> dictionaryCandidates() {
    const fs::path installed = fs::path("quenlitor-midi-texto") / "diccionario_acordes.json";
    std::vector<fs::path> candidates;
    for (const fs::path& directory : dataDirectories()) {
        candidates.push_back(directory / installed);
    }
    std::error_code failed;
    const fs::path executable = fs::read_symlink("/proc/self/exe", failed);
    if (!failed) {
        const fs::path directory = executable.parent_path();
        candidates.push_back(directory.parent_path() / QUENLITOR_DATADIR / installed);
        candidates.push_back(directory / "diccionario_acordes.json");
    }
    candidates.push_back(fs::path(QUENLITOR_SOURCE_DIR) / "resources" / "diccionario_acordes.json");
    return candidates;
}

fs::path defaultDictionaryPath() {
    for (const fs::path& candidate : dictionaryCandidates()) {
        std::error_code failed;
        if (fs::is_regular_file(candidate, failed)) {
            return candidate;
        }
    }
    throw Error("Quenlitor", 1, "Falta el diccionario de acordes en la aplicación.");
}

std::shared_ptr<const ChordRecognizer> loadDictionary(const fs::path& path) {
    return ChordRecognizer::create(std::span<const std::uint8_t>(readWhole(path)));
}

std::shared_ptr<const ChordRecognizer> recognizerFor(const Arguments& arguments) {
    return loadDictionary(arguments.has("--dictionary") ? std::filesystem::path(arguments.value("--dictionary"))
                                                        : defaultDictionaryPath());
}

} // namespace quenlitor::tokens
