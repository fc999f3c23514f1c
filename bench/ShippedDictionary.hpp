#pragma once

// The dictionary the application ships, read once from the source tree for the benchmarks.
#include "ChordRecognizer.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace quenlitor::bench {

inline std::string readWhole(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline const std::string& shippedDictionaryText() {
    static const std::string text = readWhole(QUENLITOR_SOURCE_DIR "/resources/diccionario_acordes.json");
    return text;
}

inline std::shared_ptr<const ChordRecognizer> shippedRecognizer() {
    static const auto recognizer = ChordRecognizer::create(shippedDictionaryText());
    return recognizer;
}

} // namespace quenlitor::bench
