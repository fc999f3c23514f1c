#include "DictionaryLookup.hpp"

#include "ShippedDictionary.hpp"
#include "platform/Error.hpp"
#include "platform/xdg/XdgBundleResources.hpp"

#include <cerrno>
#include <new>

namespace quenlitor::tokens {

namespace fs = std::filesystem;

std::shared_ptr<const ChordRecognizer> loadDictionary(const fs::path& path) {
    try {
        return ChordRecognizer::create(platform::xdg::XdgBundleResources().readFile(path));
    } catch (const std::bad_alloc&) {
        throw Error("posix", ENOMEM, path.string() + ": no hay memoria suficiente para leer el diccionario de acordes");
    }
}

std::shared_ptr<const ChordRecognizer> recognizerFor(const Arguments& arguments) {
    return arguments.has("--dictionary") ? loadDictionary(arguments.value("--dictionary"))
                                         : loadShippedDictionary(platform::xdg::XdgBundleResources());
}

} // namespace quenlitor::tokens
