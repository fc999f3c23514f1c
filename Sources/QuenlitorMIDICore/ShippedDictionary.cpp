#include "ShippedDictionary.hpp"

#include "platform/Error.hpp"

#include <cerrno>
#include <new>

namespace quenlitor {

std::shared_ptr<const ChordRecognizer> loadShippedDictionary(const platform::BundleResources& resources) {
    const auto location = resources.resourcePath("diccionario_acordes", "json");
    if (!location) {
        throw Error("Quenlitor", 1, "Falta el diccionario de acordes en la aplicación.");
    }
    try {
        return ChordRecognizer::create(resources.readFile(*location));
    } catch (const std::bad_alloc&) {
        throw Error("posix", ENOMEM, "No hay memoria para leer el diccionario de acordes.");
    }
}

} // namespace quenlitor
