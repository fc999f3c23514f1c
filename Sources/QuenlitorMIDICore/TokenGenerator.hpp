#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quenlitor {

class ChordRecognizer;

// The token of one gesture: the text that goes to the clipboard, the gesture's title (filled in
// whether or not the text carries it) and its distinct notes, ascending.
struct GeneratedToken {
    std::string text;
    std::string title;
    std::vector<std::ptrdiff_t> notes;

    bool operator==(const GeneratedToken&) const = default;
};

void PrintTo(const GeneratedToken& token, std::ostream* out);

// Why a gesture gave no token. The description is what the user reads in the menu.
class TokenError : public std::exception {
public:
    enum class Kind { empty, outsidePiano };

    static TokenError empty() { return TokenError(Kind::empty); }
    static TokenError outsidePiano() { return TokenError(Kind::outsidePiano); }

    Kind kind() const noexcept { return m_kind; }
    // "No hay notas para copiar." or "La fuente admite de A0 a C8. El token no se copió."
    const char* errorDescription() const noexcept;
    const char* what() const noexcept override { return errorDescription(); }

    bool operator==(const TokenError& other) const noexcept { return m_kind == other.m_kind; }

private:
    explicit TokenError(Kind kind) : m_kind(kind) {}
    Kind m_kind;
};

// Writes the notes of a gesture as a token for the Quenlitor Keyboard font: note names with
// their real octaves (60 is C4), optionally opened by the chord title in quotation marks, closed
// by " .". The font covers the piano's 88 keys, 21 (A0) to 108 (C8).
class TokenGenerator {
public:
    explicit TokenGenerator(std::shared_ptr<const ChordRecognizer> recognizer);

    const std::shared_ptr<const ChordRecognizer>& recognizer() const { return m_recognizer; }

    // Notes in any order, repetitions allowed. Throws TokenError::empty() for no notes and
    // TokenError::outsidePiano() when any note lies outside 21..108.
    GeneratedToken generate(std::span<const std::ptrdiff_t> notes, bool includeTitle) const;

    // The note's name by pitch class, with its octave number (note / 12 - 1, truncated toward
    // zero) when `octave` is true: 60 gives C4, 0 gives C-1; 61 without octave gives C#.
    static std::string noteName(std::ptrdiff_t note, bool octave);

private:
    std::string title(const std::vector<std::ptrdiff_t>& notes) const;

    std::shared_ptr<const ChordRecognizer> m_recognizer;
};

} // namespace quenlitor

template <>
struct std::hash<quenlitor::TokenError> {
    std::size_t operator()(const quenlitor::TokenError& error) const noexcept {
        return std::hash<int>{}(static_cast<int>(error.kind()));
    }
};
