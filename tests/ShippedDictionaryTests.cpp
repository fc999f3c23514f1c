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

std::string noteName(int pitchClass) {
    return ChordRecognizer::detectNoteNames()[static_cast<std::size_t>(ChordRecognizer::pitchClass(pitchClass))];
}

// Close position above the bass: the interval `bass` of `intervals` lowest, the others each
// above the note before.
Notes voicing(int root, const std::vector<int>& intervals, int bass) {
    Notes notes{48 + ChordRecognizer::pitchClass(root + bass)};
    for (const int interval : intervals) {
        if (interval != bass) {
            std::ptrdiff_t note = 48 + ChordRecognizer::pitchClass(root + interval);
            while (note <= notes.front()) {
                note += 12;
            }
            notes.push_back(note);
        }
    }
    return notes;
}

TEST(ShippedDictionary, HasTheAdvertisedSizeWithoutRepeatedEntries) {
    const auto& patterns = shipped().chordPatterns();
    EXPECT_EQ(shipped().patternCount(), 110u);
    std::set<std::string> names;
    std::set<std::vector<int>> requiredSets;
    std::set<std::vector<int>> fullSets;
    for (const ChordPattern& pattern : patterns) {
        SCOPED_TRACE(pattern.id());
        EXPECT_FALSE(pattern.isCustom());
        std::vector<int> full = pattern.required();
        full.insert(full.end(), pattern.optional().begin(), pattern.optional().end());
        std::sort(full.begin(), full.end());
        EXPECT_EQ(std::adjacent_find(full.begin(), full.end()), full.end()) << "an interval both required and optional";
        EXPECT_TRUE(names.insert(pattern.name()).second) << "repeated name";
        EXPECT_TRUE(requiredSets.insert(pattern.required()).second) << "repeated required intervals";
        EXPECT_TRUE(fullSets.insert(full).second) << "repeated interval set";
        // Chart symbols for the major-seventh, half-diminished and diminished families; plain
        // ASCII for everything else.
        std::string rest = pattern.name();
        for (const std::string symbol : {"Δ", "ø", "°"}) {
            for (auto at = rest.find(symbol); at != std::string::npos; at = rest.find(symbol)) {
                rest.erase(at, symbol.size());
            }
        }
        EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](char c) { return c > ' ' && c < 0x7F; }));
    }
}

TEST(ShippedDictionary, EveryEntryNamesItsOwnRootPositionVoicing) {
    for (const ChordPattern& pattern : shipped().chordPatterns()) {
        std::vector<int> full = pattern.required();
        full.insert(full.end(), pattern.optional().begin(), pattern.optional().end());
        for (int root = 0; root < 12; ++root) {
            for (const auto& intervals : {pattern.required(), full}) {
                const ChordAnalysis analysis = shipped().analyze(voicing(root, intervals, 0));
                EXPECT_EQ(analysis.principal, noteName(root) + pattern.name()) << testing::PrintToString(intervals);
                EXPECT_EQ(analysis.quality, pattern.name());
            }
        }
    }
}

// What a musician writes for each inversion of the everyday chords, relative to the
// chord's root: the chord whose root lies `rootOffset` above it, with that name, and "/" and the
// bass when `withBass`. Symmetric chords are named after their bass; a sus triad with another
// of its notes in the bass is named from the bass, as the other sus triad or as a 7sus4 without
// fifth (D G C is D7sus4); minor sevenths and half-diminished sevenths read as the sixth chord
// of their third once the root is not in the bass (C6 for E G A C, as for A C E G over C),
// 7sus4 chords as the minor eleventh of their fifth (Gm11 for G Bb C F, the same four notes), and
// a major eleventh with its fifth as the thirteenth of that fifth (G13 for E F G B C). Elevenths
// and six-nines leave out the ninth or the fifth, as guitarists and pianists do.
struct Inversion {
    int rootOffset;
    std::string_view name;
    bool withBass;
};

struct Quality {
    const char* what;
    std::vector<int> intervals;
    std::vector<Inversion> byBass; // one per interval, in the order of `intervals`
};

TEST(ShippedDictionary, InversionsReadAsMusiciansWriteThem) {
    const Quality qualities[] = {
        {"major", {0, 4, 7}, {{0, "", false}, {0, "", true}, {0, "", true}}},
        {"minor", {0, 3, 7}, {{0, "m", false}, {0, "m", true}, {0, "m", true}}},
        {"diminished", {0, 3, 6}, {{0, "°", false}, {0, "°", true}, {0, "°", false}}},
        {"augmented", {0, 4, 8}, {{0, "+", false}, {4, "+", false}, {8, "+", false}}},
        {"sus2", {0, 2, 7}, {{0, "sus2", false}, {2, "7sus4", false}, {7, "sus4", false}}},
        {"sus4", {0, 5, 7}, {{0, "sus4", false}, {5, "sus2", false}, {7, "7sus4", false}}},
        {"flat five", {0, 4, 6}, {{0, "(b5)", false}, {0, "(b5)", true}, {0, "(b5)", false}}},
        {"power chord", {0, 7}, {{0, "5", false}, {0, "5", true}}},
        {"sixth", {0, 4, 7, 9}, {{0, "6", false}, {0, "6", false}, {0, "6", false}, {9, "m7", false}}},
        {"minor sixth", {0, 3, 7, 9}, {{0, "m6", false}, {0, "m6", false}, {0, "m6", false}, {9, "ø", false}}},
        {"dominant seventh", {0, 4, 7, 10}, {{0, "7", false}, {0, "7", true}, {0, "7", true}, {0, "7", true}}},
        {"dominant seventh without fifth", {0, 4, 10}, {{0, "7", false}, {0, "7", true}, {0, "7", true}}},
        {"major seventh", {0, 4, 7, 11}, {{0, "Δ", false}, {0, "Δ", true}, {0, "Δ", true}, {0, "Δ", false}}},
        {"major seventh without fifth", {0, 4, 11}, {{0, "Δ", false}, {0, "Δ", true}, {0, "Δ", false}}},
        {"minor seventh", {0, 3, 7, 10}, {{0, "m7", false}, {3, "6", false}, {3, "6", false}, {3, "6", false}}},
        {"minor seventh without fifth", {0, 3, 10}, {{0, "m7", false}, {0, "m7", true}, {0, "m7", true}}},
        {"half-diminished", {0, 3, 6, 10}, {{0, "ø", false}, {3, "m6", false}, {3, "m6", false}, {3, "m6", false}}},
        {"diminished seventh", {0, 3, 6, 9}, {{0, "°7", false}, {3, "°7", false}, {6, "°7", false}, {9, "°7", false}}},
        {"minor-major seventh",
         {0, 3, 7, 11},
         {{0, "m(Δ7)", false}, {0, "m(Δ7)", true}, {0, "m(Δ7)", true}, {0, "m(Δ7)", false}}},
        {"minor-major seventh without fifth",
         {0, 3, 11},
         {{0, "m(Δ7)", false}, {0, "m(Δ7)", true}, {0, "m(Δ7)", false}}},
        {"augmented seventh", {0, 4, 8, 10}, {{0, "+7", false}, {0, "+7", true}, {0, "+7", false}, {0, "+7", true}}},
        {"augmented major seventh",
         {0, 4, 8, 11},
         {{0, "Δ(#5)", false}, {0, "Δ(#5)", true}, {0, "Δ(#5)", false}, {0, "Δ(#5)", false}}},
        {"seventh suspended fourth",
         {0, 5, 7, 10},
         {{0, "7sus4", false}, {7, "m11", false}, {7, "m11", false}, {7, "m11", false}}},
        {"six-nine without fifth",
         {0, 2, 4, 9},
         {{0, "6/9", false}, {0, "6/9", false}, {0, "6/9", false}, {9, "m(add11)", false}}},
        {"major eleventh without ninth",
         {0, 4, 5, 7, 11},
         {{0, "Δ11", false}, {7, "13", false}, {7, "13", false}, {7, "13", false}, {7, "13", false}}},
        {"major eleventh without ninth or fifth",
         {0, 4, 5, 11},
         {{0, "Δ11", false}, {0, "Δ11", false}, {0, "Δ11", false}, {0, "Δ11", false}}},
        {"minor-major eleventh without ninth",
         {0, 3, 5, 7, 11},
         {{0, "m(Δ11)", false}, {0, "m(Δ11)", false}, {0, "m(Δ11)", false}, {0, "m(Δ11)", false},
          {0, "m(Δ11)", false}}},
        {"minor-major eleventh without ninth or fifth",
         {0, 3, 5, 11},
         {{0, "m(Δ11)", false}, {0, "m(Δ11)", false}, {0, "m(Δ11)", false}, {0, "m(Δ11)", false}}},
    };
    for (const Quality& quality : qualities) {
        SCOPED_TRACE(quality.what);
        ASSERT_EQ(quality.byBass.size(), quality.intervals.size());
        for (int root = 0; root < 12; ++root) {
            for (std::size_t i = 0; i < quality.intervals.size(); ++i) {
                const int bass = root + quality.intervals[i];
                const Inversion& expected = quality.byBass[i];
                const std::string name = noteName(root + expected.rootOffset) + std::string(expected.name) +
                                         (expected.withBass ? "/" + noteName(bass) : "");
                // The analysis reads only the pitch classes and the bass: one voicing is all of them.
                EXPECT_EQ(shipped().analyze(voicing(root, quality.intervals, quality.intervals[i])).principal, name)
                    << "root " << noteName(root) << ", bass " << noteName(bass);
            }
        }
    }
}

TEST(ShippedDictionary, ExtendedChordsGetTheirConventionalNames) {
    const std::pair<Notes, std::string_view> cases[] = {
        {{71, 64, 60, 67}, "CΔ"}, // in the order played
        {{48, 52, 58, 62}, "C9"},
        {{50, 53, 57, 60, 64}, "Dm9"},
        {{41, 45, 52, 55}, "FΔ9"},
        {{48, 52, 58, 69}, "C13"},
        {{40, 44, 50, 55}, "E7(#9)"},
        {{48, 52, 58, 61}, "C7(b9)"},
        {{48, 58, 62, 65}, "C9sus4"},
        {{43, 53, 57, 60}, "G9sus4"},
        {{48, 52, 55, 62}, "C(add9)"},
        {{52, 55, 60, 62}, "C(add9)"},
        {{43, 48, 50, 51}, "Cm(add9)"},
        {{48, 52, 55, 57, 62}, "C6/9"},
        {{48, 52, 54, 59}, "CΔ(#11)"},
        {{48, 52, 58, 66}, "C7(b5)"},
        // The minor six-nine without fifth, and minor elevenths with one of their two optional tones.
        {{48, 51, 57, 62}, "Cm6/9"},
        {{52, 57, 62, 67, 71}, "Em11"},
        {{57, 60, 67, 71, 74}, "Am11"},
    };
    for (const auto& [notes, name] : cases) {
        EXPECT_EQ(shipped().analyze(notes).principal, name) << testing::PrintToString(notes);
    }
}

} // namespace
} // namespace quenlitor
