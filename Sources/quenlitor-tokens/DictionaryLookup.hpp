#pragma once

#include "ChordRecognizer.hpp"
#include "CommandLine.hpp"

#include <filesystem>
#include <memory>

namespace quenlitor::tokens {

// Reads the file whole and builds a recognizer from it. Throws Error: domain "posix" with errno
// and "FILE: reason" when it cannot be read, is larger than 64 MiB or does not fit in memory, or
// the recognizer's error when it is rejected.
std::shared_ptr<const ChordRecognizer> loadDictionary(const std::filesystem::path& path);

// The recognizer of the dictionary named by --dictionary, or of the shipped one, found where the
// application finds it (the installed data directories, then the executable's own directory,
// where a build puts a copy). Throws Error,
// which the tool reports as "error: " and the description, exit status 2.
std::shared_ptr<const ChordRecognizer> recognizerFor(const Arguments& arguments);

} // namespace quenlitor::tokens
