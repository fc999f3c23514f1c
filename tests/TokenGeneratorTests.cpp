// The token text: which notes carry their octave, the title by note count, the piano's range.
#include "TokenGenerator.hpp"

#include "ChordRecognizer.hpp"

#include <gtest/gtest.h>

namespace quenlitor {
namespace {

using Notes = std::vector<std::ptrdiff_t>;

// A major triad, a dominant seventh and a major seventh spelt with the chart symbol.
GeneratedToken generate(const Notes& notes, bool includeTitle) {
    static const TokenGenerator generator(ChordRecognizer::create(R"({"chords": [
        {"nombre": "", "obligatorias": [0, 4, 7]},
        {"nombre": "7", "obligatorias": [0, 4, 7, 10]},
        {"nombre": "Δ", "obligatorias": [0, 4, 7, 11]}
    ]})"));
    return generator.generate(notes, includeTitle);
}

TEST(TokenGenerator, OctaveRuleTitlesAndRangeEnds) {
    struct Row {
        Notes notes;
        bool includeTitle;
        std::string text;
        std::string title;
    };
    const Row rows[] = {
        {{60}, true, "\"C4\" C4 .", "C4"},
        {{60}, false, "C4 .", "C4"},
        {{70}, true, "\"Bb4\" Bb4 .", "Bb4"},
        {{67, 60, 60}, true, "\"5j\" C4 G .", "5j"},
        // An octave up is written bare; one semitone more carries the octave.
        {{60, 72}, true, "\"8j\" C4 C .", "8j"},
        {{60, 73}, true, "\"2m\" C4 C#5 .", "2m"},
        // Bare across the octave number's change: B3 then C4.
        {{59, 60}, true, "\"2m\" B3 C .", "2m"},
        {{48, 64}, true, "\"3M\" C3 E4 .", "3M"},   // a tenth
        {{48, 63}, false, "C3 Eb4 .", "3m"},        // a minor tenth, title kept out of the text
        {{48, 72}, true, "\"8j\" C3 C5 .", "8j"},   // a double octave
        {{60, 71}, true, "\"7M\" C4 B .", "7M"},
        {{21, 108}, true, "\"3m\" A0 C8 .", "3m"},
        {{21}, true, "\"A0\" A0 .", "A0"},
        {{108}, false, "C8 .", "C8"},
        {{61, 63, 66}, true, "C#4 Eb F# .", ""},
        {{71, 64, 60, 67}, true, "\"Cmaj7\" C4 E G B .", "Cmaj7"},
        {{36, 60, 64, 67, 70}, false, "C2 C4 E G Bb .", "C7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.notes) + (row.includeTitle ? " with title" : ""));
        const GeneratedToken token = generate(row.notes, row.includeTitle);
        EXPECT_EQ(token.text, row.text);
        EXPECT_EQ(token.title, row.title);
    }
    EXPECT_EQ(generate(Notes{67, 60, 67, 60}, true).notes, (Notes{60, 67}));
}

TEST(TokenGenerator, EmptyOrOutsideThePianoFails) {
    const std::pair<Notes, TokenError> rows[] = {
        {{}, TokenError::empty()},          {{20}, TokenError::outsidePiano()},     {{109}, TokenError::outsidePiano()},
        {{60, 20}, TokenError::outsidePiano()}, {{109, 60}, TokenError::outsidePiano()}, {{-60, 60}, TokenError::outsidePiano()},
    };
    for (const auto& [notes, expected] : rows) {
        SCOPED_TRACE(::testing::PrintToString(notes));
        try {
            generate(notes, true);
            ADD_FAILURE() << "no error";
        } catch (const TokenError& error) {
            EXPECT_EQ(error, expected);
        }
    }
    EXPECT_STREQ(TokenError::empty().what(), "No hay notas para copiar.");
    EXPECT_STREQ(TokenError::outsidePiano().what(), "La fuente admite de A0 a C8. El token no se copió.");
}

// The octave number is the note divided by 12, truncated toward zero, minus 1.
TEST(TokenGenerator, NoteNameOctaveTruncatesTowardZero) {
    const std::tuple<std::ptrdiff_t, bool, std::string> rows[] = {
        {60, true, "C4"}, {61, false, "C#"}, {11, true, "B-1"}, {0, true, "C-1"}, {-1, true, "B-1"}, {-13, true, "B-2"},
    };
    for (const auto& [note, octave, name] : rows) {
        EXPECT_EQ(TokenGenerator::noteName(note, octave), name) << note;
    }
}

} // namespace
} // namespace quenlitor
