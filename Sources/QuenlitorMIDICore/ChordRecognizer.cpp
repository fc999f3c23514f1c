#include "ChordRecognizer.hpp"

#include "ChordDictionaryDecoding.hpp"
#include "platform/Error.hpp"

#include <nlohmann/json.hpp>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <unordered_map>

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

bool isASCII(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Normalization Form C, so that canonically equivalent names compare equal code point by code
// point. UTF-8 byte order is code point order, so the result compares as plain bytes.
std::string canonicalComposition(const std::string& text) {
    if (isASCII(text)) {
        return text;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return text;
    }
    const icu::UnicodeString composed = nfc->normalize(icu::UnicodeString::fromUTF8(text), status);
    if (U_FAILURE(status)) {
        return text;
    }
    std::string utf8;
    composed.toUTF8String(utf8);
    return utf8;
}

// Layout of a match's rank: compared as one number, smaller first, it orders matches by custom
// flag, root position, required count, optional intervals played and name, in that order.
constexpr int customShift = 63;
constexpr int rootPositionShift = 62;
constexpr int requiredShift = 58;
constexpr int optionalShift = 54; // the name's rank below it

// Past this many (interval set, entry) pairs the fit table is not built; the shipped dictionary
// needs a few hundred.
constexpr std::size_t fitTableLimit = std::size_t{1} << 20;

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
    // Names ranked once by the code point order of their canonical compositions; equivalent
    // names share a rank, so analyze compares names as integers and never calls ICU.
    std::vector<std::string> composedNames;
    composedNames.reserve(m_chordPatterns.size());
    std::vector<std::pair<std::string_view, std::size_t>> names;
    names.reserve(m_chordPatterns.size());
    for (std::size_t index = 0; index < m_chordPatterns.size(); ++index) {
        composedNames.push_back(canonicalComposition(m_chordPatterns[index].name()));
    }
    for (std::size_t index = 0; index < m_chordPatterns.size(); ++index) {
        names.emplace_back(composedNames[index], index);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::uint64_t> nameRank(m_chordPatterns.size());
    std::uint64_t rank = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0 && names[i].first != names[i - 1].first) {
            ++rank;
        }
        nameRank[names[i].second] = rank;
    }

    // Display names get numbers that are equal exactly when their texts are canonically
    // equivalent. A root's name is plain letters and signs that nothing reorders, so root name
    // and composed entry name, side by side, stand for the text; the bass part, "/" and a note
    // name, stays apart as well. Such a text is numbered by its root and name, taking the longer
    // root name when two fit ("C#" in "C#m"); any other text, only possible with names that begin
    // with "#" or "b", gets a number of its own.
    const auto& noteNames = detectNoteNames();
    const std::uint64_t distinctNames = names.empty() ? 0 : rank + 1;
    std::unordered_map<std::string, std::uint64_t> otherTexts;
    const auto numberOf = [&](const std::string& text) {
        std::size_t root = noteNames.size();
        for (std::size_t candidate = 0; candidate < noteNames.size(); ++candidate) {
            if (text.starts_with(noteNames[candidate]) &&
                (root == noteNames.size() || noteNames[candidate].size() > noteNames[root].size())) {
                root = candidate;
            }
        }
        if (root < noteNames.size()) {
            const std::string_view rest = std::string_view(text).substr(noteNames[root].size());
            const auto named =
                std::lower_bound(names.begin(), names.end(), rest,
                                 [](const auto& name, std::string_view other) { return name.first < other; });
            if (named != names.end() && named->first == rest) {
                return root * distinctNames + nameRank[named->second];
            }
        }
        return otherTexts.try_emplace(text, 12 * distinctNames + otherTexts.size()).first->second;
    };
    m_rootedNames.reserve(m_chordPatterns.size() * 12);
    for (std::size_t index = 0; index < m_chordPatterns.size(); ++index) {
        const std::string& name = m_chordPatterns[index].name();
        const std::string& composed = composedNames[index];
        const bool writesBass = name.find('/') != std::string::npos;
        for (std::size_t root = 0; root < noteNames.size(); ++root) {
            const bool longerRoot =
                (composed.starts_with('#') || composed.starts_with('b')) &&
                std::find(noteNames.begin(), noteNames.end(), noteNames[root] + composed.front()) != noteNames.end();
            RootedName rooted;
            if (!longerRoot && !writesBass) {
                rooted.text = root * distinctNames + nameRank[index];
                rooted.withoutBass = DisplayName{rooted.text, -1};
                m_rootedNames.push_back(rooted);
                continue;
            }
            const std::string text = noteNames[root] + composed;
            rooted.text = numberOf(text);
            rooted.withoutBass = DisplayName{rooted.text, -1};
            // "C7/E" as a name's text reads like C7 given the bass E.
            if (const std::size_t slash = text.rfind('/'); slash != std::string::npos) {
                const auto bass =
                    std::find(noteNames.begin(), noteNames.end(), std::string_view(text).substr(slash + 1));
                if (bass != noteNames.end()) {
                    rooted.withoutBass =
                        DisplayName{numberOf(text.substr(0, slash)), static_cast<int>(bass - noteNames.begin())};
                }
            }
            m_rootedNames.push_back(rooted);
        }
    }

    m_entries.reserve(m_chordPatterns.size());
    std::size_t tableSize = 0;
    for (std::size_t index = 0; index < m_chordPatterns.size(); ++index) {
        const ChordPattern& pattern = m_chordPatterns[index];
        Entry entry;
        entry.required = static_cast<std::uint16_t>(maskOf(pattern.required()));
        entry.optional = static_cast<std::uint16_t>(maskOf(pattern.optional()));
        entry.allowed = static_cast<std::uint16_t>(entry.required | entry.optional);
        entry.neverTakesBass = (entry.allowed & (bit(2) | bit(5) | bit(9))) != 0;
        entry.rank = std::uint64_t{pattern.isCustom() ? 0u : 1u} << customShift |
                     static_cast<std::uint64_t>(12 - pattern.required().size()) << requiredShift | nameRank[index];
        m_entries.push_back(entry);
        if (tableSize <= fitTableLimit) {
            tableSize += std::size_t{1} << std::popcount(static_cast<unsigned>(entry.allowed & ~entry.required));
        }
    }
    if (tableSize > fitTableLimit) {
        return;
    }

    // An entry fits every set that holds its required intervals plus any choice of the others it
    // allows: walk the subsets of those others, first to count, then to fill in index order.
    const auto forEachSetFitting = [](const Entry& entry, auto&& visit) {
        const unsigned choices = entry.allowed & ~static_cast<unsigned>(entry.required);
        for (unsigned chosen = choices;; chosen = (chosen - 1) & choices) {
            visit(entry.required | chosen);
            if (chosen == 0) {
                break;
            }
        }
    };
    m_fitStart.assign(PitchClassSet::fullMask + 2, 0);
    for (const Entry& entry : m_entries) {
        forEachSetFitting(entry, [&](unsigned set) { ++m_fitStart[set + 1]; });
    }
    std::partial_sum(m_fitStart.begin(), m_fitStart.end(), m_fitStart.begin());
    m_fits.resize(m_fitStart.back());
    std::vector<std::uint32_t> next(m_fitStart.begin(), m_fitStart.end() - 1);
    for (std::size_t index = 0; index < m_entries.size(); ++index) {
        forEachSetFitting(m_entries[index],
                          [&](unsigned set) { m_fits[next[set]++] = static_cast<std::uint32_t>(index); });
    }
}

const std::array<std::string, 12>& ChordRecognizer::detectNoteNames() {
    static const std::array<std::string, 12> names{"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    return names;
}

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

ChordAnalysis ChordRecognizer::analyze(std::span<const std::ptrdiff_t> notes) const {
    if (notes.empty()) {
        return ChordAnalysis::empty();
    }
    std::ptrdiff_t lowest = notes.front();
    bool twoDistinct = false;
    unsigned played = 0;
    for (const std::ptrdiff_t note : notes) {
        twoDistinct = twoDistinct || note != notes.front();
        lowest = std::min(lowest, note);
        played |= bit(pitchClass(note));
    }
    if (!twoDistinct) {
        return ChordAnalysis::empty();
    }
    const int bass = pitchClass(lowest);

    struct Match {
        std::uint64_t rank;
        std::uint32_t discovery;
        int root;
        std::size_t entry;
    };
    std::size_t count = 0;
    for (int root = 0; root < 12; ++root) {
        if ((played & bit(root)) != 0) {
            forEachFit(intervalsAbove(played, root), [&](std::size_t) { ++count; });
        }
    }
    if (count == 0) {
        return ChordAnalysis::empty();
    }
    // Matches live on the stack; only a dictionary with many entries fitting the same notes
    // spills to the heap.
    std::array<Match, 48> local;
    std::vector<Match> spilled;
    if (count > local.size()) {
        spilled.resize(count);
    }
    const std::span<Match> matches = spilled.empty() ? std::span(local.data(), count) : std::span(spilled);

    std::size_t found = 0;
    for (int root = 0; root < 12; ++root) {
        if ((played & bit(root)) == 0) {
            continue;
        }
        const unsigned intervals = intervalsAbove(played, root);
        forEachFit(intervals, [&](std::size_t index) {
            const Entry& entry = m_entries[index];
            const auto optionalPlayed = static_cast<unsigned>(std::popcount(intervals & entry.optional));
            const std::uint64_t rank = entry.rank | std::uint64_t{root == bass ? 0u : 1u} << rootPositionShift |
                                       std::uint64_t{12u - optionalPlayed} << optionalShift;
            matches[found] = Match{rank, static_cast<std::uint32_t>(found), root, index};
            ++found;
        });
    }
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.discovery < b.discovery;
    });

    const auto inRootPosition = [&](const Match& match) { return match.root == bass; };
    const auto firstInRootPosition = std::find_if(matches.begin(), matches.end(), inRootPosition);
    const Match& principal = firstInRootPosition != matches.end() ? *firstInRootPosition : matches.front();

    // The display name is the root's name and the entry's, then "/" and the bass when the entry
    // lists no 2, 5 or 9 and the bass lies a third, fifth or seventh above the root.
    const auto takesBass = [&](const Match& match) {
        const int bassInterval = (bass - match.root + 12) % 12;
        return match.root != bass && !m_entries[match.entry].neverTakesBass &&
               (bassInterval == 3 || bassInterval == 4 || bassInterval == 7 || bassInterval == 10);
    };
    const auto displayNameOf = [&](const Match& match) {
        const RootedName& name = m_rootedNames[match.entry * 12 + static_cast<std::size_t>(match.root)];
        return takesBass(match) ? DisplayName{name.text, bass} : name.withoutBass;
    };
    const auto& noteNames = detectNoteNames();
    const auto spelt = [&](const Match& match, bool withBass) {
        const std::string& root = noteNames[static_cast<std::size_t>(match.root)];
        const std::string& name = m_chordPatterns[match.entry].name();
        std::string text;
        text.reserve(root.size() + name.size() + (withBass ? 3 : 0));
        text += root;
        text += name;
        if (withBass) {
            text += '/';
            text += noteNames[static_cast<std::size_t>(bass)];
        }
        return text;
    };

    constexpr std::size_t maxAlternatives = 4;
    const DisplayName principalName = displayNameOf(principal);
    std::array<DisplayName, maxAlternatives> alternativeNames{};
    ChordAnalysis analysis;
    analysis.principal = spelt(principal, takesBass(principal));
    const auto consider = [&](const Match& match) {
        if (match.root == principal.root && match.entry == principal.entry) {
            return;
        }
        const DisplayName name = displayNameOf(match);
        const auto taken = alternativeNames.begin() + static_cast<std::ptrdiff_t>(analysis.alternatives.size());
        if (name == principalName || std::find(alternativeNames.begin(), taken, name) != taken) {
            return;
        }
        if (analysis.alternatives.empty()) {
            analysis.alternatives.reserve(maxAlternatives);
        }
        *taken = name;
        analysis.alternatives.push_back(spelt(match, takesBass(match)));
    };
    // Root-position names first, then the ranked list as a whole.
    for (const Match& match : matches) {
        if (analysis.alternatives.size() == maxAlternatives) {
            break;
        }
        if (inRootPosition(match)) {
            consider(match);
        }
    }
    for (const Match& match : matches) {
        if (analysis.alternatives.size() == maxAlternatives) {
            break;
        }
        consider(match);
    }

    analysis.rootPitchClass = principal.root;
    analysis.bassPitchClass = bass;
    analysis.quality = m_chordPatterns[principal.entry].name();
    analysis.intervals = PitchClassSet::fromMask(intervalsAbove(played, principal.root));
    return analysis;
}

} // namespace quenlitor
