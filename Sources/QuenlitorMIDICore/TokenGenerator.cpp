#include "TokenGenerator.hpp"

#include "ChordRecognizer.hpp"
#include "TokenTextNormalizer.hpp"

#include <algorithm>
#include <array>
#include <ostream>

namespace quenlitor {

namespace {

constexpr std::ptrdiff_t lowestPianoKey = 21;   // A0
constexpr std::ptrdiff_t highestPianoKey = 108; // C8

// Interval names by semitones modulo 12, as the font's ligatures spell them.
constexpr std::array<const char*, 12> intervalNames{"8j", "2m", "2M", "3m", "3M", "4j", "4+", "5j", "6m", "6M", "7m", "7M"};

} // namespace

void PrintTo(const GeneratedToken& token, std::ostream* out) {
    *out << "{text: \"" << token.text << "\", title: \"" << token.title << "\", notes:";
    for (const std::ptrdiff_t note : token.notes) {
        *out << ' ' << note;
    }
    *out << '}';
}

const char* TokenError::errorDescription() const noexcept {
    switch (m_kind) {
    case Kind::empty:
        return "No hay notas para copiar.";
    case Kind::outsidePiano:
        return "La fuente admite de A0 a C8. El token no se copió.";
    }
    return "";
}

TokenGenerator::TokenGenerator(std::shared_ptr<const ChordRecognizer> recognizer) : m_recognizer(std::move(recognizer)) {}

std::string TokenGenerator::noteName(std::ptrdiff_t note, bool octave) {
    std::string name = ChordRecognizer::detectNoteNames()[static_cast<std::size_t>(ChordRecognizer::pitchClass(note))];
    if (octave) {
        name += std::to_string(note / 12 - 1);
    }
    return name;
}

GeneratedToken TokenGenerator::generate(std::span<const std::ptrdiff_t> notes, bool includeTitle) const {
    std::vector<std::ptrdiff_t> distinct(notes.begin(), notes.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (distinct.empty()) {
        throw TokenError::empty();
    }
    if (distinct.front() < lowestPianoKey || distinct.back() > highestPianoKey) {
        throw TokenError::outsidePiano();
    }

    GeneratedToken token{.text = {}, .title = title(distinct), .notes = {}};
    if (includeTitle && !token.title.empty()) {
        token.text = "\"" + token.title + "\" ";
    }
    // A note at most an octave above the one before it is written bare: a reader takes the
    // nearest key of that name above the previous note.
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        const bool bare = i > 0 && distinct[i] - distinct[i - 1] <= 12;
        token.text += noteName(distinct[i], !bare) + " ";
    }
    token.text += ".";
    token.notes = std::move(distinct);
    return token;
}

std::string TokenGenerator::title(const std::vector<std::ptrdiff_t>& notes) const {
    switch (notes.size()) {
    case 1:
        return TokenTextNormalizer::title(noteName(notes.front(), true));
    case 2:
        return intervalNames[static_cast<std::size_t>((notes[1] - notes[0]) % 12)];
    default:
        return TokenTextNormalizer::title(m_recognizer->analyze(notes).principal);
    }
}

} // namespace quenlitor
