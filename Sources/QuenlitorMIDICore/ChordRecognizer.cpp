#include "ChordRecognizer.hpp"

#include "ChordDictionaryDecoding.hpp"
#include "platform/Error.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <numeric>
#include <ostream>

namespace quenlitor {

namespace {

using Json = nlohmann::json;

constexpr unsigned bit(int pitchClass) { return 1u << pitchClass; }

// The played pitch classes as intervals above `root`, which must be one of them.
constexpr unsigned intervalsAbove(unsigned pitchClasses, int root) {
    return ((pitchClasses >> root) | (pitchClasses << (12 - root))) & PitchClassSet::fullMask;
}

std::vector<int> normalized(const std::vector<std::ptrdiff_t>& values, bool addRoot) {
    unsigned mask = addRoot ? bit(0) : 0u;
    for (const std::ptrdiff_t value : values) {
        mask |= bit(ChordRecognizer::pitchClass(value));
    }
    return PitchClassSet::fromMask(mask).members();
}

unsigned maskOf(const std::vector<int>& pitchClasses) {
    unsigned mask = 0;
    for (const int pitchClass : pitchClasses) {
        mask |= bit(pitchClass);
    }
    return mask;
}

std::string joined(const std::vector<int>& values) {
    std::string text;
    for (const int value : values) {
        text += (text.empty() ? "" : ",") + std::to_string(value);
    }
    return text;
}

// Past this many (interval set, entry) pairs the fit table is not built; the shipped dictionary
// needs a few hundred.
constexpr std::size_t fitTableLimit = std::size_t{1} << 20;

// An entry fits every interval set that holds its required intervals plus any choice of the
// others it allows: visits each such set once.
template <typename Visit>
void forEachSetFitting(unsigned required, unsigned allowed, Visit&& visit) {
    const unsigned choices = allowed & ~required;
    for (unsigned chosen = choices;; chosen = (chosen - 1) & choices) {
        visit(required | chosen);
        if (chosen == 0) {
            break;
        }
    }
}

} // namespace

PitchClassSet::PitchClassSet(std::initializer_list<int> members) {
    for (const int member : members) {
        m_mask = static_cast<std::uint16_t>(m_mask | bit(ChordRecognizer::pitchClass(member)));
    }
}

std::vector<int> PitchClassSet::members() const {
    std::vector<int> members;
    members.reserve(static_cast<std::size_t>(size()));
    for (int pitchClass = 0; pitchClass < 12; ++pitchClass) {
        if (contains(pitchClass)) {
            members.push_back(pitchClass);
        }
    }
    return members;
}

void PrintTo(const PitchClassSet& set, std::ostream* out) {
    *out << '{';
    const char* separator = "";
    for (const int member : set.members()) {
        *out << separator << member;
        separator = ", ";
    }
    *out << '}';
}

ChordPattern::ChordPattern(std::string name, std::vector<std::ptrdiff_t> required, std::vector<std::ptrdiff_t> optional,
                           bool isCustom)
    : m_name(std::move(name)), m_required(normalized(required, true)), m_optional(normalized(optional, false)),
      m_isCustom(isCustom) {}

ChordPattern ChordPattern::fromJSON(std::string_view json) {
    return dictionary::decodeEntry(json);
}

std::string ChordPattern::toJSON() const {
    nlohmann::ordered_json object;
    object["nombre"] = m_name;
    object["obligatorias"] = m_required;
    object["opcionales"] = m_optional;
    object["is_custom"] = m_isCustom;
    // A name built from values need not be UTF-8; writing must not fail for it.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ChordPattern::id() const { return m_name + "|" + joined(m_required) + "|" + joined(m_optional); }

void PrintTo(const ChordPattern& pattern, std::ostream* out) {
    *out << pattern.id() << (pattern.isCustom() ? " (custom)" : "");
}

const ChordAnalysis& ChordAnalysis::empty() {
    static const ChordAnalysis nothing{};
    return nothing;
}

void PrintTo(const ChordAnalysis& analysis, std::ostream* out) {
    const auto pitchClass = [](const std::optional<int>& value) { return value ? std::to_string(*value) : "none"; };
    *out << "{principal: \"" << analysis.principal << "\", alternatives: [";
    const char* separator = "";
    for (const std::string& alternative : analysis.alternatives) {
        *out << separator << '"' << alternative << '"';
        separator = ", ";
    }
    *out << "], root: " << pitchClass(analysis.rootPitchClass) << ", bass: " << pitchClass(analysis.bassPitchClass)
         << ", quality: \"" << analysis.quality << "\", intervals: ";
    PrintTo(analysis.intervals, out);
    *out << '}';
}

std::shared_ptr<const ChordRecognizer> ChordRecognizer::create(std::span<const std::uint8_t> dictionary) {
    std::vector<ChordPattern> patterns = dictionary::decodeDocument(dictionary);
    if (patterns.empty()) {
        throw Error("QuenlitorMIDI", 1, "El diccionario de acordes está vacío.");
    }
    return std::shared_ptr<const ChordRecognizer>(new ChordRecognizer(std::move(patterns)));
}

std::shared_ptr<const ChordRecognizer> ChordRecognizer::create(std::span<const std::byte> dictionary) {
    return create(std::span(reinterpret_cast<const std::uint8_t*>(dictionary.data()), dictionary.size()));
}

std::shared_ptr<const ChordRecognizer> ChordRecognizer::create(std::string_view dictionary) {
    return create(std::span(reinterpret_cast<const std::uint8_t*>(dictionary.data()), dictionary.size()));
}

ChordRecognizer::ChordRecognizer(std::vector<ChordPattern> patterns) : m_chordPatterns(std::move(patterns)) {
    describeEntries();
    numberNames();
    indexFitTable();
}

// The entries as 12-bit masks and the ranking keys that do not depend on the notes, so that
// analyze works on integers only.
void ChordRecognizer::describeEntries() {
    m_entries.reserve(m_chordPatterns.size());
    for (const ChordPattern& pattern : m_chordPatterns) {
        Entry entry;
        entry.required = static_cast<std::uint16_t>(maskOf(pattern.required()));
        entry.optional = static_cast<std::uint16_t>(maskOf(pattern.optional()));
        entry.allowed = static_cast<std::uint16_t>(entry.required | entry.optional);
        entry.isCustom = pattern.isCustom();
        entry.neverTakesBass = (entry.allowed & (bit(2) | bit(5) | bit(9))) != 0;
        entry.requiredCount = static_cast<std::uint8_t>(pattern.required().size());
        m_entries.push_back(entry);
    }
}

// With a few hundred (set, entry) pairs for the shipped dictionary, looking the fits of a set up
// costs far less than testing every entry at every root: counted first, then filled in index
// order, so that fits come out in the order the entries were listed.
void ChordRecognizer::indexFitTable() {
    std::size_t pairs = 0;
    for (const Entry& entry : m_entries) {
        pairs += std::size_t{1} << std::popcount(static_cast<unsigned>(entry.allowed & ~entry.required));
        if (pairs > fitTableLimit) {
            return;
        }
    }
    m_fitStart.assign(PitchClassSet::fullMask + 2, 0);
    for (const Entry& entry : m_entries) {
        forEachSetFitting(entry.required, entry.allowed, [&](unsigned set) { ++m_fitStart[set + 1]; });
    }
    std::partial_sum(m_fitStart.begin(), m_fitStart.end(), m_fitStart.begin());
    m_fits.resize(m_fitStart.back());
    std::vector<std::uint32_t> next(m_fitStart.begin(), m_fitStart.end() - 1);
    for (std::size_t index = 0; index < m_entries.size(); ++index) {
        forEachSetFitting(m_entries[index].required, m_entries[index].allowed,
                          [&](unsigned set) { m_fits[next[set]++] = static_cast<std::uint32_t>(index); });
    }
}

const std::array<std::string, 12>& ChordRecognizer::detectNoteNames() {
    static const std::array<std::string, 12> names{"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    return names;
}

ChordAnalysis ChordRecognizer::analyze(std::span<const std::ptrdiff_t> notes) const {
    const std::optional<Played> played = playedIn(notes);
    if (!played) {
        return ChordAnalysis::empty();
    }
    std::size_t count = 0;
    forEachMatch(*played, [&](int, unsigned, std::size_t) { ++count; });
    if (count == 0) {
        return ChordAnalysis::empty();
    }
    // Matches live on the stack; only a dictionary with many entries fitting the same notes
    // spills to the heap.
    std::array<Match, 48> local;
    std::vector<Match> spilled(count > local.size() ? count : 0);
    const std::span<Match> matches = spilled.empty() ? std::span(local).first(count) : std::span(spilled);
    findMatches(*played, matches);
    std::sort(matches.begin(), matches.end(), [this](const Match& a, const Match& b) { return ranksBefore(a, b); });
    const Match& principal = principalOf(matches);

    ChordAnalysis analysis;
    analysis.principal = spell(principal, played->bass);
    analysis.alternatives = alternativesTo(principal, matches, played->bass);
    analysis.rootPitchClass = principal.root;
    analysis.bassPitchClass = played->bass;
    analysis.quality = m_chordPatterns[principal.patternIndex].name();
    analysis.intervals = PitchClassSet::fromMask(intervalsAbove(played->pitchClasses, principal.root));
    return analysis;
}

// Repeated notes count once; two notes an octave apart are two notes. Fewer than two name no
// chord.
std::optional<ChordRecognizer::Played> ChordRecognizer::playedIn(std::span<const std::ptrdiff_t> notes) {
    if (notes.empty()) {
        return std::nullopt;
    }
    std::ptrdiff_t lowest = notes.front();
    bool twoDistinct = false;
    Played played;
    for (const std::ptrdiff_t note : notes) {
        twoDistinct = twoDistinct || note != notes.front();
        lowest = std::min(lowest, note);
        played.pitchClasses |= bit(pitchClass(note));
    }
    if (!twoDistinct) {
        return std::nullopt;
    }
    played.bass = pitchClass(lowest);
    return played;
}

// The entries that fit `intervals`, in index order: looked up in the fit table, or tested one by
// one when the dictionary was too wide for it.
template <typename Visit>
void ChordRecognizer::forEachFit(unsigned intervals, Visit&& visit) const {
    if (!m_fitStart.empty()) {
        for (std::uint32_t at = m_fitStart[intervals]; at < m_fitStart[intervals + 1]; ++at) {
            visit(std::size_t{m_fits[at]});
        }
        return;
    }
    for (std::size_t index = 0; index < m_entries.size(); ++index) {
        const Entry& entry = m_entries[index];
        if ((entry.required & ~intervals) == 0 && (intervals & ~static_cast<unsigned>(entry.allowed)) == 0) {
            visit(index);
        }
    }
}

// Every entry at every played root, roots ascending and entries in index order: the order of
// discovery, the last ranking key.
template <typename Visit>
void ChordRecognizer::forEachMatch(const Played& played, Visit&& visit) const {
    for (int root = 0; root < 12; ++root) {
        if ((played.pitchClasses & bit(root)) != 0) {
            const unsigned intervals = intervalsAbove(played.pitchClasses, root);
            forEachFit(intervals, [&](std::size_t index) { visit(root, intervals, index); });
        }
    }
}

void ChordRecognizer::findMatches(const Played& played, std::span<Match> matches) const {
    std::uint32_t found = 0;
    forEachMatch(played, [&](int root, unsigned intervals, std::size_t index) {
        const auto optionalPresent = std::popcount(intervals & m_entries[index].optional);
        matches[found] = Match{root, static_cast<std::uint32_t>(index), found, optionalPresent, root == played.bass};
        ++found;
    });
}

// The first key on which two matches differ decides; discovery order leaves no ties.
bool ChordRecognizer::ranksBefore(const Match& a, const Match& b) const {
    const Entry& p = m_entries[a.patternIndex];
    const Entry& q = m_entries[b.patternIndex];
    if (p.isCustom != q.isCustom) {
        return p.isCustom;
    }
    if (a.bassIsRoot != b.bassIsRoot) {
        return a.bassIsRoot;
    }
    if (p.requiredCount != q.requiredCount) {
        return p.requiredCount > q.requiredCount;
    }
    if (a.optionalPresent != b.optionalPresent) {
        return a.optionalPresent > b.optionalPresent;
    }
    if (p.nameOrder != q.nameOrder) {
        return p.nameOrder < q.nameOrder;
    }
    return a.discoveryOrder < b.discoveryOrder;
}

// A fit with the lowest note as root takes the principal place even over a better-ranked custom
// entry at another root.
const ChordRecognizer::Match& ChordRecognizer::principalOf(std::span<const Match> ranked) {
    const auto rootPosition = std::find_if(ranked.begin(), ranked.end(), [](const Match& m) { return m.bassIsRoot; });
    return rootPosition != ranked.end() ? *rootPosition : ranked.front();
}

// Root-position names first, then the ranked list as a whole, so that a root-position name comes
// before those of better-ranked matches at other roots; each name once, never the principal's.
std::vector<std::string> ChordRecognizer::alternativesTo(const Match& principal, std::span<const Match> ranked,
                                                         int bass) const {
    constexpr std::size_t most = 4;
    std::vector<std::string> alternatives;
    std::array<DisplayName, most> taken{}; // the names of `alternatives`, compared as numbers
    const DisplayName principalName = displayNameOf(principal, bass);
    const auto consider = [&](const Match& match) {
        if (match.root == principal.root && match.patternIndex == principal.patternIndex) {
            return;
        }
        const DisplayName name = displayNameOf(match, bass);
        const auto end = taken.begin() + static_cast<std::ptrdiff_t>(alternatives.size());
        if (name == principalName || std::find(taken.begin(), end, name) != end) {
            return;
        }
        if (alternatives.empty()) {
            alternatives.reserve(most); // the one allocation of the list
        }
        *end = name;
        alternatives.push_back(spell(match, bass));
    };
    for (const Match& match : ranked) {
        if (match.bassIsRoot && alternatives.size() < most) {
            consider(match);
        }
    }
    for (const Match& match : ranked) {
        if (alternatives.size() < most) {
            consider(match);
        }
    }
    return alternatives;
}

// "/" and the bass follow the root's name and the entry's when the entry lists no 2, 5 or 9 and
// the bass lies a third, fifth or seventh above the root.
bool ChordRecognizer::takesBass(const Match& match, int bass) const {
    const int bassInterval = pitchClass(bass - match.root);
    return !match.bassIsRoot && !m_entries[match.patternIndex].neverTakesBass &&
           (bassInterval == 3 || bassInterval == 4 || bassInterval == 7 || bassInterval == 10);
}

ChordRecognizer::DisplayName ChordRecognizer::displayNameOf(const Match& match, int bass) const {
    const RootedName& name = m_rootedNames[match.patternIndex * std::size_t{12} + static_cast<std::size_t>(match.root)];
    return takesBass(match, bass) ? DisplayName{name.text, bass} : name.withoutBass;
}

std::string ChordRecognizer::spell(const Match& match, int bass) const {
    const auto& noteNames = detectNoteNames();
    const std::string& root = noteNames[static_cast<std::size_t>(match.root)];
    const std::string& name = m_chordPatterns[match.patternIndex].name();
    const bool withBass = takesBass(match, bass);
    std::string text;
    text.reserve(root.size() + name.size() + (withBass ? 3 : 0)); // one allocation at most
    text += root;
    text += name;
    if (withBass) {
        text += '/';
        text += noteNames[static_cast<std::size_t>(bass)];
    }
    return text;
}

} // namespace quenlitor
