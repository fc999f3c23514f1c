#pragma once

#include "ChordRecognizer.hpp"
#include "CommandLine.hpp"

#include <filesystem>
#include <memory>
#include <vector>

namespace quenlitor::tokens {

// Where the tool looks for the shipped dictionary when none is named, in this order: the data
// directories of an installation ($XDG_DATA_HOME, or ~/.local/share, then each directory of
// $XDG_DATA_DIRS, or /usr/local/share and /usr/share), each followed by
// "quenlitor-midi-texto/diccionario_acordes.json"; the same under the installation prefix the
// executable runs from; the executable's own directory, where a build puts a copy; the source
// tree it was built from.
std::vector<std::filesystem::path> dictionaryCandidates();

// The first candidate that exists. Throws Error (domain "Quenlitor", code 1, "Falta el
// diccionario de acordes en la aplicación.") when there is none.
std::filesystem::path defaultDictionaryPath();

// Reads the file whole and builds a recognizer from it. Throws Error: domain "POSIX" with errno
// and "FILE: reason" when it cannot be read, or the recognizer's error when it is rejected.
std::shared_ptr<const ChordRecognizer> loadDictionary(const std::filesystem::path& path);

// The recognizer of the dictionary named by --dictionary, or of the default one. Throws Error,
// which the tool reports as "error: " and the description, exit status 2.
std::shared_ptr<const ChordRecognizer> recognizerFor(const Arguments& arguments);

} // namespace quenlitor::tokens
