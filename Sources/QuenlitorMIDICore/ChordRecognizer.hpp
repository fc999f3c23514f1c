#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor {

// A set of pitch classes, or of intervals above a root, 0..11: one bit each.
class PitchClassSet {
public:
    constexpr PitchClassSet() = default;
    // Members given as any integers, each reduced by floor modulo 12.
    PitchClassSet(std::initializer_list<int> members);
    // Bits above the twelfth are dropped.
    static constexpr PitchClassSet fromMask(unsigned mask) {
        PitchClassSet set;
        set.m_mask = static_cast<std::uint16_t>(mask & fullMask);
        return set;
    }

    constexpr std::uint16_t mask() const { return m_mask; }
    constexpr bool contains(int pitchClass) const {
        return pitchClass >= 0 && pitchClass < 12 && (m_mask >> pitchClass & 1u) != 0;
    }
    constexpr int size() const { return std::popcount(static_cast<unsigned>(m_mask)); }
    constexpr bool empty() const { return m_mask == 0; }
    // Ascending.
    std::vector<int> members() const;

    bool operator==(const PitchClassSet&) const = default;

    static constexpr unsigned fullMask = 0xFFF;

private:
    std::uint16_t m_mask = 0;
};

void PrintTo(const PitchClassSet& set, std::ostream* out);

// One dictionary entry: the intervals above a root that make up a chord quality, the intervals
// that may sound with it, and the suffix written after the root's name.
class ChordPattern {
public:
    // `required` and `optional` may hold any integers: each is reduced by floor modulo 12,
    // duplicates fall away and the lists are sorted; 0 is added to `required` (the root is always
    // there), not to `optional`. Values in both lists stay in both.
    ChordPattern(std::string name, std::vector<std::ptrdiff_t> required, std::vector<std::ptrdiff_t> optional,
                 bool isCustom);

    // One chord object of the dictionary format: "nombre" (string), "obligatorias" and
    // "opcionales" (arrays of integers), "is_custom" (boolean); an absent key or null takes the
    // default (empty name, no intervals, false) and other keys are ignored. Throws Error (domain
    // "JSON", the JSON library's error id, a Spanish description naming the place) when the text
    // is not one JSON object or a key holds a value of the wrong type, and (domain
    // "QuenlitorMIDI", code 2) when the name holds control or bidirectional-override characters.
    static ChordPattern fromJSON(std::string_view json);
    // The object with all four keys, in the order above, holding the normalised lists; compact.
    std::string toJSON() const;

    const std::string& name() const { return m_name; }
    const std::vector<int>& required() const { return m_required; }
    const std::vector<int>& optional() const { return m_optional; }
    bool isCustom() const { return m_isCustom; }
    void setIsCustom(bool isCustom) { m_isCustom = isCustom; }

    // "m7|0,3,7,10|": the name, the required and the optional intervals; the custom flag is not
    // part of it.
    std::string id() const;

    bool operator==(const ChordPattern&) const = default;

private:
    std::string m_name;
    std::vector<int> m_required;
    std::vector<int> m_optional;
    bool m_isCustom;
};

void PrintTo(const ChordPattern& pattern, std::ostream* out);

// What a set of notes was recognised as. Produced only by ChordRecognizer::analyze.
struct ChordAnalysis {
    // Display name of the chosen chord ("Am7", "C/E"); empty when nothing was recognised.
    std::string principal;
    // Up to four other display names, best first, all different from each other and from
    // `principal`.
    std::vector<std::string> alternatives;
    std::optional<int> rootPitchClass;
    // Pitch class of the lowest note; absent whenever nothing was recognised.
    std::optional<int> bassPitchClass;
    // Name of the chosen dictionary entry alone, without root or bass.
    std::string quality;
    // Every played pitch class as an interval above the chosen root; holds 0 whenever a chord
    // was recognised.
    PitchClassSet intervals;

    // Nothing recognised: empty texts and sets, absent pitch classes.
    static const ChordAnalysis& empty();

    bool operator==(const ChordAnalysis&) const = default;
};

void PrintTo(const ChordAnalysis& analysis, std::ostream* out);

// Names the chord that a set of notes forms, from a dictionary of ChordPattern entries. Immutable
// once built, so it is shared freely and may be used from any number of threads at once.
class ChordRecognizer {
public:
    // Decodes and keeps the dictionary: a JSON object whose "chords" array holds chord objects
    // (see ChordPattern::fromJSON), kept in file order without further checks. Throws Error: the
    // JSON library's id and a Spanish description of what is wrong and where (domain "JSON") when
    // the bytes are not such a document, the errors of fromJSON for an entry, or domain
    // "QuenlitorMIDI", code 1, "El diccionario de acordes está vacío." for an empty array.
    static std::shared_ptr<const ChordRecognizer> create(std::span<const std::uint8_t> dictionary);
    static std::shared_ptr<const ChordRecognizer> create(std::span<const std::byte> dictionary);
    static std::shared_ptr<const ChordRecognizer> create(std::string_view dictionary);

    ChordRecognizer(const ChordRecognizer&) = delete;
    ChordRecognizer& operator=(const ChordRecognizer&) = delete;

    // The dictionary's entries in file order; never empty. An entry's position is its index.
    const std::vector<ChordPattern>& chordPatterns() const { return m_chordPatterns; }
    std::size_t patternCount() const { return m_chordPatterns.size(); }

    // The note names by pitch class: "C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb",
    // "B", whatever the key.
    static const std::array<std::string, 12>& detectNoteNames();
    // Any integer reduced by floor modulo 12: -1 gives 11, 14 gives 2.
    static constexpr int pitchClass(std::ptrdiff_t note) {
        const auto remainder = static_cast<int>(note % 12);
        return remainder < 0 ? remainder + 12 : remainder;
    }

    // Names the chord that `notes` form (order and repetitions do not matter). Every entry is
    // tried with every played pitch class as root; an entry fits when all its required intervals
    // are played and every played interval is required or optional. A fit with the lowest note
    // as root always takes the principal place; otherwise fits rank by custom flag, root
    // position, required count, optional intervals played, name (canonically equivalent names
    // equal) and discovery order. Returns ChordAnalysis::empty() for fewer than two distinct
    // notes or when nothing fits. Never fails.
    ChordAnalysis analyze(std::span<const std::ptrdiff_t> notes) const;

private:
    // What analyze needs of one entry, worked out once at load time.
    struct Entry {
        std::uint16_t required = 0;
        std::uint16_t allowed = 0; // required or optional
        std::uint16_t optional = 0;
        bool isCustom = false;
        // The entry lists 2, 5 or 9, so its display name never takes a bass note.
        bool neverTakesBass = false;
        std::uint8_t requiredCount = 0;
        // The name's position in code point order of the names' canonical compositions; names
        // that are canonically equivalent share a position.
        std::uint32_t nameOrder = 0;
    };

    // The notes as analyze uses them: their pitch classes, one bit each, and the lowest note's.
    struct Played {
        unsigned pitchClasses = 0;
        int bass = 0;
    };

    // One fit of one entry at one played root, found by one call of analyze.
    struct Match {
        int root;
        std::uint32_t patternIndex;
        std::uint32_t discoveryOrder; // position among the matches in the order they were found
        int optionalPresent;          // the entry's optional intervals among those played
        bool bassIsRoot;
    };

    // analyze tells display names apart without spelling them: a number stands for the text of
    // a root's name followed by an entry's (one number for canonically equivalent texts), and the
    // bass is added when the name takes one.
    struct DisplayName {
        std::uint64_t text = 0;
        int bass = -1; // none
        bool operator==(const DisplayName&) const = default;
    };
    // The names of entry e at root r, at e * 12 + r: the number of the text, and the display name
    // without a bass part. A text ending in "/" and a note name, like "C7/E", is written as the
    // text before it with that bass, the way the same name with a bass part is written.
    struct RootedName {
        std::uint64_t text = 0;
        DisplayName withoutBass;
    };

    explicit ChordRecognizer(std::vector<ChordPattern> patterns);

    // Loading, in this order: the entries' masks and the ranking keys that do not depend on the
    // notes; each entry's nameOrder and m_rootedNames (in ChordNameNumbering.cpp, with ICU); the
    // fit table.
    void describeEntries();
    void numberNames();
    void indexFitTable();

    // analyze, in this order: the played notes, their matches, the ranking, the principal match,
    // the alternatives. A display name is compared as displayNameOf and written by spell.
    static std::optional<Played> playedIn(std::span<const std::ptrdiff_t> notes);
    template <typename Visit>
    void forEachFit(unsigned intervals, Visit&& visit) const;
    template <typename Visit>
    void forEachMatch(const Played& played, Visit&& visit) const;
    void findMatches(const Played& played, std::span<Match> matches) const;
    bool ranksBefore(const Match& a, const Match& b) const;
    static const Match& principalOf(std::span<const Match> ranked);
    std::vector<std::string> alternativesTo(const Match& principal, std::span<const Match> ranked, int bass) const;
    bool takesBass(const Match& match, int bass) const;
    DisplayName displayNameOf(const Match& match, int bass) const;
    std::string spell(const Match& match, int bass) const;

    std::vector<ChordPattern> m_chordPatterns;
    std::vector<Entry> m_entries;
    std::vector<RootedName> m_rootedNames;
    // For each of the 4096 interval sets, the entries that fit it, in index order: those of set
    // s are m_fits[m_fitStart[s]] up to m_fitStart[s + 1]. Left empty for dictionaries so wide
    // that the table would be huge; analyze then tests every entry.
    std::vector<std::uint32_t> m_fitStart;
    std::vector<std::uint32_t> m_fits;
};

} // namespace quenlitor
