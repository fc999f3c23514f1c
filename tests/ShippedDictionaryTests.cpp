// The dictionary that ships with the application: its structure, and the names musicians expect
// for chords played the usual ways.
#include "ChordRecognizer.hpp"
#include "support/ShippedDictionary.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace quenlitor {
namespace {

using Notes = std::vector<std::ptrdiff_t>;

const ChordRecognizer& shipped() { return *support::shippedRecognizer(); }

// Close position: the interval `bass` of `intervals` lowest, each other above the note before.
Notes voicing(int root, const std::vector<int>& intervals, int bass) {
    Notes notes{48 + ChordRecognizer::pitchClass(root + bass)};
    for (const int interval : intervals) {
        if (interval != bass) {
            notes.push_back(48 + ChordRecognizer::pitchClass(root + interval));
            notes.back() += notes.back() <= notes.front() ? 12 : 0;
        }
    }
    return notes;
}

TEST(ShippedDictionary, HasTheAdvertisedSizeWithoutRepeatedEntries) {
    EXPECT_EQ(shipped().patternCount(), 110u);
    std::set<std::string> names;
    std::set<std::vector<int>> requiredSets, fullSets;
    for (const ChordPattern& pattern : shipped().chordPatterns()) {
        SCOPED_TRACE(pattern.id());
        EXPECT_FALSE(pattern.isCustom());
        std::vector<int> full = pattern.required();
        full.insert(full.end(), pattern.optional().begin(), pattern.optional().end());
        std::sort(full.begin(), full.end());
        EXPECT_EQ(std::adjacent_find(full.begin(), full.end()), full.end()) << "an interval both required and optional";
        EXPECT_TRUE(names.insert(pattern.name()).second && requiredSets.insert(pattern.required()).second &&
                    fullSets.insert(full).second) << "repeated name or interval set";
        // Chart symbols for the major-seventh, half-diminished and diminished families, plain ASCII
        // elsewhere: a stray character (a non-breaking space) would reach every token of that chord.
        std::string rest = pattern.name();
        for (const std::string symbol : {"Δ", "ø", "°"}) {
            for (auto at = rest.find(symbol); at != std::string::npos; at = rest.find(symbol)) {
                rest.erase(at, symbol.size());
            }
        }
        EXPECT_TRUE(std::ranges::all_of(rest, [](char c) { return c > ' ' && c < 0x7F; })) << "a character beyond ASCII";
        // Each entry names its own root-position voicing, bare or with every optional interval.
        for (int root = 0; root < 12; ++root) {
            for (const auto& intervals : {pattern.required(), full}) {
                const ChordAnalysis analysis = shipped().analyze(voicing(root, intervals, 0));
                EXPECT_EQ(analysis.principal, ChordRecognizer::detectNoteNames()[root] + pattern.name()) << root;
                EXPECT_EQ(analysis.quality, pattern.name());
            }
        }
    }
}

// What a musician writes for each inversion of the everyday chords, one name per interval taken
// as the bass. Symmetric chords are named after their bass; a sus triad inverted reads as the
// other sus triad or a 7sus4 without fifth, a minor or half-diminished seventh as the sixth chord
// of its third, a 7sus4 as the minor eleventh of its fifth and a major eleventh with its fifth as
// the thirteenth of that fifth. Elevenths and six-nines leave out the ninth or the fifth.
TEST(ShippedDictionary, InversionsReadAsMusiciansWriteThem) {
    const std::pair<std::vector<int>, std::vector<std::string>> qualities[] = {
        {{0, 4, 7}, {"C", "C/E", "C/G"}},
        {{0, 3, 7}, {"Cm", "Cm/Eb", "Cm/G"}},
        {{0, 3, 6}, {"C°", "C°/Eb", "C°"}},
        {{0, 4, 8}, {"C+", "E+", "Ab+"}},
        {{0, 2, 7}, {"Csus2", "D7sus4", "Gsus4"}},
        {{0, 5, 7}, {"Csus4", "Fsus2", "G7sus4"}},
        {{0, 4, 6}, {"C(b5)", "C(b5)/E", "C(b5)"}},
        {{0, 7}, {"C5", "C5/G"}},
        {{0, 4, 7, 9}, {"C6", "C6", "C6", "Am7"}},
        {{0, 3, 7, 9}, {"Cm6", "Cm6", "Cm6", "Aø"}},
        {{0, 4, 7, 10}, {"C7", "C7/E", "C7/G", "C7/Bb"}},
        {{0, 4, 7, 11}, {"CΔ", "CΔ/E", "CΔ/G", "CΔ"}},
        {{0, 3, 7, 10}, {"Cm7", "Eb6", "Eb6", "Eb6"}},
        {{0, 3, 10}, {"Cm7", "Cm7/Eb", "Cm7/Bb"}},
        {{0, 3, 6, 10}, {"Cø", "Ebm6", "Ebm6", "Ebm6"}},
        {{0, 3, 6, 9}, {"C°7", "Eb°7", "F#°7", "A°7"}},
        {{0, 3, 7, 11}, {"Cm(Δ7)", "Cm(Δ7)/Eb", "Cm(Δ7)/G", "Cm(Δ7)"}},
        {{0, 4, 8, 10}, {"C+7", "C+7/E", "C+7", "C+7/Bb"}},
        {{0, 4, 8, 11}, {"CΔ(#5)", "CΔ(#5)/E", "CΔ(#5)", "CΔ(#5)"}},
        {{0, 5, 7, 10}, {"C7sus4", "Gm11", "Gm11", "Gm11"}},
        {{0, 2, 4, 9}, {"C6/9", "C6/9", "C6/9", "Am(add11)"}},
        {{0, 4, 5, 7, 11}, {"CΔ11", "G13", "G13", "G13", "G13"}},
        {{0, 4, 5, 11}, {"CΔ11", "CΔ11", "CΔ11", "CΔ11"}},
        {{0, 3, 5, 7, 11}, {"Cm(Δ11)", "Cm(Δ11)", "Cm(Δ11)", "Cm(Δ11)", "Cm(Δ11)"}},
    };
    for (const auto& [intervals, byBass] : qualities) {
        ASSERT_EQ(byBass.size(), intervals.size());
        for (std::size_t i = 0; i < intervals.size(); ++i) {
            EXPECT_EQ(shipped().analyze(voicing(0, intervals, intervals[i])).principal, byBass[i]) << intervals[i];
        }
    }
}

TEST(ShippedDictionary, ExtendedChordsGetTheirConventionalNames) {
    // The last: the minor six-nine without fifth, and minor elevenths with one of two optional tones.
    const std::pair<Notes, std::string_view> cases[] = {
        {{71, 64, 60, 67}, "CΔ"}, {{48, 52, 58, 62}, "C9"}, {{50, 53, 57, 60, 64}, "Dm9"}, {{41, 45, 52, 55}, "FΔ9"},
        {{48, 52, 58, 69}, "C13"}, {{40, 44, 50, 55}, "E7(#9)"}, {{48, 52, 58, 61}, "C7(b9)"},
        {{48, 58, 62, 65}, "C9sus4"}, {{43, 53, 57, 60}, "G9sus4"}, {{48, 52, 55, 62}, "C(add9)"},
        {{52, 55, 60, 62}, "C(add9)"}, {{43, 48, 50, 51}, "Cm(add9)"}, {{48, 52, 55, 57, 62}, "C6/9"},
        {{48, 52, 54, 59}, "CΔ(#11)"}, {{48, 52, 58, 66}, "C7(b5)"}, {{48, 51, 57, 62}, "Cm6/9"},
        {{52, 57, 62, 67, 71}, "Em11"}, {{57, 60, 67, 71, 74}, "Am11"},
    };
    for (const auto& [notes, name] : cases) {
        EXPECT_EQ(shipped().analyze(notes).principal, name) << testing::PrintToString(notes);
    }
}

} // namespace
} // namespace quenlitor
