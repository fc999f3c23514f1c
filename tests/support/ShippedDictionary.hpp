#pragma once

// The shipped dictionary, read once from QUENLITOR_SHIPPED_DICTIONARY, for tests, benchmarks and fuzzers.
#include "ChordRecognizer.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace quenlitor::support {

inline std::string readWhole(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline const std::string& shippedDictionaryText() {
    static const std::string text = readWhole(QUENLITOR_SHIPPED_DICTIONARY);
    return text;
}

inline const std::shared_ptr<const ChordRecognizer>& shippedRecognizer() {
    static const auto recognizer = ChordRecognizer::create(shippedDictionaryText());
    return recognizer;
}

} // namespace quenlitor::support
