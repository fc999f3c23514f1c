#include "DictionaryLookup.hpp"

#include "platform/Error.hpp"
#include "platform/xdg/XdgBundleResources.hpp"

#include <cerrno>
#include <new>
#include <system_error>

namespace quenlitor::tokens {

namespace fs = std::filesystem;

constexpr const char* dictionaryFile = "diccionario_acordes.json";

std::vector<fs::path> dictionaryCandidates() {
    std::vector<fs::path> candidates;
    for (const fs::path& directory : platform::xdg::XdgBundleResources::defaultSearchDirectories()) {
        candidates.push_back(directory / dictionaryFile);
    }
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
    try {
        return ChordRecognizer::create(platform::xdg::XdgBundleResources().readFile(path));
    } catch (const std::bad_alloc&) {
        throw Error("posix", ENOMEM, path.string() + ": no hay memoria suficiente para leer el diccionario de acordes");
    }
}

std::shared_ptr<const ChordRecognizer> recognizerFor(const Arguments& arguments) {
    return loadDictionary(arguments.has("--dictionary") ? std::filesystem::path(arguments.value("--dictionary"))
                                                        : defaultDictionaryPath());
}

} // namespace quenlitor::tokens
