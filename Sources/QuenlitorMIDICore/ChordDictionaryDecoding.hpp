#pragma once

#include "ChordRecognizer.hpp"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Reading the chord dictionary's JSON format. Every failure is an Error of domain "JSON" with the
// JSON library's error id as its code and a short Spanish description that says what is wrong
// and where ("…no es JSON válido (línea 3, columna 14).", "…en chords[4].obligatorias."), since
// the application shows it to the user as it stands.
namespace quenlitor::dictionary {

// The entries of a dictionary document, in file order; an empty list is not an error here.
std::vector<ChordPattern> decodeDocument(std::span<const std::uint8_t> bytes);

// One chord object on its own.
ChordPattern decodeEntry(std::string_view json);

} // namespace quenlitor::dictionary
