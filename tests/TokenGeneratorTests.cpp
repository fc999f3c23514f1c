// The token text: which notes carry their octave, the title by note count, the piano's range.
#include "TokenGenerator.hpp"

#include "ChordRecognizer.hpp"

#include <gtest/gtest.h>

namespace quenlitor {
namespace {

using Notes = std::vector<std::ptrdiff_t>;

// A major triad, a dominant seventh and a major seventh spelt with the chart symbol.
const TokenGenerator generator(ChordRecognizer::create(R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]},
    {"nombre": "7", "obligatorias": [0, 4, 7, 10]}, {"nombre": "Δ", "obligatorias": [0, 4, 7, 11]}]})"));

TEST(TokenGenerator, OctaveRuleTitlesAndRangeEnds) {
    const std::tuple<Notes, bool, std::string, std::string> rows[] = {
        {{60}, true, "\"C4\" C4 .", "C4"},
        {{70}, false, "Bb4 .", "Bb4"},
        {{67, 60, 60}, true, "\"5j\" C4 G .", "5j"},
        // An octave up is written bare; one semitone more carries the octave.
        {{60, 72}, true, "\"8j\" C4 C .", "8j"},
        {{60, 73}, true, "\"2m\" C4 C#5 .", "2m"},
        {{59, 60}, true, "\"2m\" B3 C .", "2m"}, // bare across the octave number's change
        {{48, 64}, true, "\"3M\" C3 E4 .", "3M"}, // a tenth
        {{48, 63}, false, "C3 Eb4 .", "3m"},
        {{48, 72}, true, "\"8j\" C3 C5 .", "8j"},
        {{21, 108}, true, "\"3m\" A0 C8 .", "3m"},
        {{61, 63, 66}, true, "C#4 Eb F# .", ""},
        {{71, 64, 60, 67}, true, "\"Cmaj7\" C4 E G B .", "Cmaj7"},
        {{36, 60, 64, 67, 70}, false, "C2 C4 E G Bb .", "C7"},
    };
    for (const auto& [notes, includeTitle, text, title] : rows) {
        SCOPED_TRACE(testing::PrintToString(notes) + (includeTitle ? " with title" : ""));
        const GeneratedToken token = generator.generate(notes, includeTitle);
        EXPECT_EQ(token.text, text);
        EXPECT_EQ(token.title, title);
    }
    EXPECT_EQ(generator.generate(Notes{67, 60, 67, 60}, true).notes, (Notes{60, 67}));
    // The octave number is the note divided by 12, truncated toward zero, minus 1.
    for (const auto& [note, name] : {std::pair{11, "B-1"}, {0, "C-1"}, {-1, "B-1"}, {-13, "B-2"}}) {
        EXPECT_EQ(TokenGenerator::noteName(note, true), name) << note;
    }
}

TEST(TokenGenerator, EmptyOrOutsideThePianoFails) {
    const auto outside = TokenError::outsidePiano();
    for (const auto& [notes, expected] : {std::pair{Notes{}, TokenError::empty()}, {Notes{20}, outside},
                                          {Notes{109}, outside}, {Notes{60, 20}, outside}, {Notes{109, 60}, outside}}) {
        try {
            generator.generate(notes, true);
            ADD_FAILURE() << testing::PrintToString(notes);
        } catch (const TokenError& error) {
            EXPECT_EQ(error, expected) << testing::PrintToString(notes);
        }
    }
}

} // namespace
} // namespace quenlitor
