#pragma once

#include "ChordRecognizer.hpp"
#include "platform/BundleResources.hpp"

#include <memory>

namespace quenlitor {

// The chord dictionary the application ships: the resource "diccionario_acordes.json" among the
// application's data, read whole and decoded, as the tray application and the command-line tool
// both load it. Throws Error: domain "Quenlitor", code 1, "Falta el diccionario de acordes en la
// aplicación." when there is none; the resources' error when it cannot be read; the recognizer's
// when it is rejected; domain "posix", ENOMEM, "No hay memoria para leer el diccionario de
// acordes." when memory runs out.
std::shared_ptr<const ChordRecognizer> loadShippedDictionary(const platform::BundleResources& resources);

} // namespace quenlitor
