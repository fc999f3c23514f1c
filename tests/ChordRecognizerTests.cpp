// The chord dictionary format, its loading failures and the analysis with its six ranking keys.
#include "ChordRecognizer.hpp"
#include "platform/Error.hpp"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <tuple>

namespace quenlitor {
namespace {

using Notes = std::vector<std::ptrdiff_t>;
using Values = std::vector<std::ptrdiff_t>;

std::shared_ptr<const ChordRecognizer> load(std::string_view json) { return ChordRecognizer::create(json); }

std::string dictionaryOf(const std::vector<ChordPattern>& patterns) {
    std::string json = R"({"chords":[)";
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        json += (i > 0 ? "," : "") + patterns[i].toJSON();
    }
    return json + "]}";
}

// The error that `decode` fails with, or nothing (and a test failure) when it succeeds.
template <typename Decode>
std::optional<Error> errorOf(Decode decode) {
    try {
        decode();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "decoded";
    return std::nullopt;
}

std::optional<Error> loadError(std::string_view json) {
    return errorOf([&] { load(json); });
}

#define EXPECT_JSON_ERROR(json, expectedCode)                                                                          \
    do {                                                                                                               \
        const auto error = loadError(json);                                                                            \
        if (error) {                                                                                                   \
            EXPECT_EQ(error->domain(), "JSON");                                                                        \
            EXPECT_EQ(error->code(), expectedCode);                                                                    \
            EXPECT_EQ(error->description().rfind("El diccionario de acordes ", 0), 0u) << error->description();        \
        }                                                                                                              \
    } while (false)

// Major and minor triads, the sixth, the minor seventh and the major seventh.
std::vector<ChordPattern> triadsSixthAndSevenths() {
    return {
        ChordPattern("", {0, 4, 7}, {}, false),      ChordPattern("m", {0, 3, 7}, {}, false),
        ChordPattern("6", {0, 4, 7, 9}, {}, false),  ChordPattern("m7", {0, 3, 7, 10}, {}, false),
        ChordPattern("maj7", {0, 4, 7, 11}, {}, false),
    };
}

ChordAnalysis chord(std::string principal, std::vector<std::string> alternatives, int root, int bass,
                    std::string quality, PitchClassSet intervals) {
    return {std::move(principal), std::move(alternatives), root, bass, std::move(quality), intervals};
}

TEST(ChordPattern, NormalisesIntervalsTheSameFromValuesAndFromJSON) {
    constexpr auto maximum = std::numeric_limits<std::int64_t>::max();
    constexpr auto minimum = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* json; // the same intervals as `required` and `optional`
        Values required, optional;
        std::vector<int> expectedRequired, expectedOptional;
    };
    const Case cases[] = {
        {R"([4, 7, 16, -5, 7], "opcionales": [])", {4, 7, 16, -5, 7}, {}, {0, 4, 7}, {}},
        {R"([], "opcionales": [14, 2, 26])", {}, {14, 2, 26}, {0}, {2}},
        {R"([0, 4, 7], "opcionales": [0, 4])", {0, 4, 7}, {0, 4}, {0, 4, 7}, {0, 4}},
        {R"([7, 4], "opcionales": [11, 11])", {7, 4}, {11, 11}, {0, 4, 7}, {11}},
        {R"([12, -12, -1], "opcionales": [-13, 23])", {12, -12, -1}, {-13, 23}, {0, 11}, {11}},
        {"[9223372036854775807, -9223372036854775808]", {maximum, minimum}, {}, {0, 4, 7}, {}},
        {R"([7.0, 4e0, -0.0], "opcionales": [1.1e1])", {7, 4, 0}, {11}, {0, 4, 7}, {11}}, // whole reals are integers
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const ChordPattern fromValues("x", c.required, c.optional, false);
        EXPECT_EQ(fromValues.required(), c.expectedRequired);
        EXPECT_EQ(fromValues.optional(), c.expectedOptional);
        EXPECT_EQ(ChordPattern::fromJSON(std::string(R"({"nombre": "x", "obligatorias": )") + c.json + "}"), fromValues);
    }
}

TEST(ChordPattern, AbsentOrNullKeysTakeDefaultsAndOthersAreIgnored) {
    const ChordPattern defaults("", {}, {}, false);
    for (const char* json : {"{}", R"({"nombre": null, "obligatorias": null, "opcionales": null, "is_custom": null})",
                             R"({"Nombre": 5, "extra": {"deep": [1, "x"]}, "obligatorias ": "no"})"}) {
        SCOPED_TRACE(json);
        EXPECT_EQ(ChordPattern::fromJSON(json), defaults);
    }
}

// Every test dictionary here is written with toJSON, and the dictionary fuzz target reads back
// what it writes.
TEST(ChordPattern, WritesTheFourKeysInFileOrder) {
    EXPECT_EQ(ChordPattern("", {7, 4}, {}, false).toJSON(),
              R"({"nombre":"","obligatorias":[0,4,7],"opcionales":[],"is_custom":false})");
    // A name that is not UTF-8 can be built from values; writing it must still work.
    EXPECT_NO_THROW(ChordPattern("\xff", {}, {}, false).toJSON());
}

// An entry is decoded alike alone and in a dictionary, where one wrong entry fails the whole file.
TEST(ChordPattern, WrongTypesFailAloneAndInADictionary) {
    const std::pair<const char*, long> cases[] = {
        {R"({"nombre": 7})", 302},
        {R"({"nombre": ["m"]})", 302},
        {R"({"is_custom": 1})", 302},
        {R"({"is_custom": "true"})", 302},
        {R"({"obligatorias": 4})", 302},
        {R"({"obligatorias": ["4"]})", 302},
        {R"({"obligatorias": [4.5]})", 302},
        {R"({"opcionales": [true]})", 302},
        {R"({"opcionales": [null]})", 302},
        {R"({"opcionales": [[4]]})", 302},
        {R"({"obligatorias": [18446744073709551615]})", 406},
        {R"({"obligatorias": [1e30]})", 406},
        {R"([])", 302},
        {R"("m7")", 302},
        {R"({"nombre": "m7")", 101},
        {"", 101},
    };
    const std::string good = R"({"nombre": "m", "obligatorias": [0, 3, 7], "opcionales": [], "is_custom": false})";
    for (const auto& [entry, code] : cases) {
        SCOPED_TRACE(entry);
        if (const auto alone = errorOf([&] { ChordPattern::fromJSON(entry); })) {
            EXPECT_EQ(alone->domain(), "JSON");
            EXPECT_EQ(alone->code(), code);
        }
        EXPECT_JSON_ERROR(R"({"chords": [)" + good + "," + entry + "," + good + "]}", code);
    }
}

// The code is the JSON library's; the description, which the menu shows, says in Spanish what is
// wrong and where (only its opening is checked where none is given).
TEST(ChordRecognizer, MalformedDocumentsSayWhatAndWhere) {
    const std::tuple<std::string_view, long, std::string_view> cases[] = {
        {"", 101, "no es JSON válido (línea 1, columna 1)."},
        {"{\n  \"chords\": [\n    {\"nombre\": \"\u00f1\" x", 101, "no es JSON válido (línea 3, columna 20)."},
        {"chords", 101, ""},
        {R"({"chords": [{"nombre": "m")", 101, ""},
        {R"({"chords": [{}]} x)", 101, ""},
        {"// acordes\n{\"chords\": [{}]}", 101, ""},  // comments are not JSON
        {"{\"chords\": [{\"nombre\": \"\xC3\"}]}", 101, ""},  // a name that is not UTF-8
        {"{}", 403, "no tiene la lista chords."},
        {R"({"Chords": [{}]})", 403, ""},
        {"[]", 304, "no es un objeto JSON con la lista chords."},
        {R"([{"chords": []}])", 304, ""},
        {"null", 304, ""},
        {R"({"chords": 3})", 302, "tiene un valor de tipo incorrecto en chords."},
        {R"({"chords": null})", 302, ""},
        {R"({"chords": {"nombre": ""}})", 302, ""},
        {R"({"chords": [{}, 3]})", 302, ""},
        {R"({"chords": [{}, {"obligatorias": [0, 4, "7"]}]})", 302,
         "tiene un valor de tipo incorrecto en chords[1].obligatorias[2]."},
        {R"({"chords": [{"opcionales": [0.5]}]})", 302, "tiene un número que no es entero en chords[0].opcionales[0]."},
        {R"({"chords": [{"opcionales": [1e30]}]})", 406, "tiene un número demasiado grande en chords[0].opcionales[0]."},
        // Beyond a double, the parser itself cannot hold the number: refused at its place, wherever
        // it is, whether the reader looks at that key or not.
        {R"({"chords": [{"nombre": "x", "obligatorias": [0, 4, 7], "extra": 1E400}]})", 406,
         "tiene un número demasiado grande en chords[0].extra."},
        {R"({"chords": [{"nombre": 1E999999}]})", 406, "tiene un número demasiado grande en chords[0].nombre."},
        {R"({"chords": [{}, {"obligatorias": [0, -1e309]}]})", 406,
         "tiene un número demasiado grande en chords[1].obligatorias[1]."},
        {R"({"version": [1, [2], {"a": [3, 1e309]}], "chords": [{}]})", 406,
         "tiene un número demasiado grande en version[2].a[1]."},
        {R"({"chords": [{}], "": -1e400})", 406, "tiene un número demasiado grande en ."},
        {"1e400", 406, "tiene un número demasiado grande en la raíz del documento."},
        {"{\"chords\": [{}]}\n1e400", 101, "no es JSON válido (línea 2, columna 5)."},
        // Found by the fuzzer: the overflow inside a name's place of a document that is cut short.
        {R"({"chords": [{"nombre":9999999999999999999999999999999999999999999999999999999999999999999999999999999999E9999999999999 "", "obligatorias": [0, 4,{"chOchords": [{"nomb 7], "opcionRe": 6}rds": []}ales)",
         406, "tiene un número demasiado grande en chords[0].nombre."},
    };
    for (const auto& [json, code, what] : cases) {
        SCOPED_TRACE(json);
        EXPECT_JSON_ERROR(json, code);
        if (const auto error = loadError(json); error && !what.empty()) {
            EXPECT_EQ(error->description(), "El diccionario de acordes " + std::string(what));
        }
    }
    // This system's own refusals: an empty list, and millions of values (while they are read,
    // before they fill the memory).
    std::string huge = R"({"chords": [)";
    for (int i = 0; i < 1'000'001; ++i) {
        huge += "0,";
    }
    for (const auto& [json, code, description] :
         {std::tuple{std::string(R"({"chords": [], "version": 2})"), 1, "está vacío."},
          std::tuple{huge + "0]}", 3, "tiene demasiados valores (más de 1000000)."}}) {
        const auto error = loadError(json);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), "QuenlitorMIDI");
        EXPECT_EQ(error->code(), code);
        EXPECT_EQ(error->description(), "El diccionario de acordes " + std::string(description));
    }
}

// Pasted into a terminal, such a name could run escape sequences or show another text.
TEST(ChordRecognizer, NamesWithControlCharactersAreRefused) {
    for (const std::string_view name : {R"(m\u0000)", R"(\u001b[31mm)", "m\x7f", R"(m\u0085)", R"(\u202em7)", R"(m\u2066)"}) {
        SCOPED_TRACE(name);
        const auto error = loadError(R"({"chords": [{"nombre": "m"}, {"nombre": ")" + std::string(name) + R"("}]})");
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), "QuenlitorMIDI");
        EXPECT_EQ(error->code(), 2);
        EXPECT_EQ(error->description(), "El diccionario de acordes tiene caracteres de control en chords[1].nombre.");
    }
    EXPECT_NO_THROW(load(R"({"chords": [{"nombre": "ø7 Δ °7 \u2013 \u202f"}]})"));
}

TEST(ChordRecognizer, KeepsEveryEntryInFileOrder) {
    const std::string json = R"({"comment": "acordes", "chords": [
        {"nombre": "m", "obligatorias": [3, 7], "color": "azul"},
        {},
        {"nombre": "m", "obligatorias": [3, 7]},
        {"nombre": "nunca", "obligatorias": [1, 2, 3], "opcionales": [1], "is_custom": true}
    ]})";
    const std::vector<ChordPattern> expected{ChordPattern("m", {3, 7}, {}, false), ChordPattern("", {}, {}, false),
                                             ChordPattern("m", {3, 7}, {}, false),
                                             ChordPattern("nunca", {1, 2, 3}, {1}, true)};
    const auto bytes = std::vector<std::uint8_t>(json.begin(), json.end());
    for (const auto& recognizer : {load(json), ChordRecognizer::create(std::span(bytes)),
                                   ChordRecognizer::create(std::as_bytes(std::span(json)))}) {
        EXPECT_EQ(recognizer->patternCount(), 4u);
        EXPECT_EQ(recognizer->chordPatterns(), expected);
    }
}

TEST(ChordRecognizer, PitchClassIsFloorModuloTwelve) {
    const std::pair<std::ptrdiff_t, int> cases[] = {
        {0, 0}, {11, 11}, {12, 0}, {14, 2}, {-1, 11}, {-5, 7}, {-12, 0}, {-13, 11}, {127, 7},
        {std::numeric_limits<std::ptrdiff_t>::min(), 4}, {std::numeric_limits<std::ptrdiff_t>::max(), 7},
    };
    for (const auto& [note, pitchClass] : cases) {
        EXPECT_EQ(ChordRecognizer::pitchClass(note), pitchClass) << note;
    }
}

TEST(ChordAnalysis, SharedNotesGiveAlternativesInversionsASlashBassAndNoFitNothing) {
    struct Case {
        Notes notes;
        ChordAnalysis expected;
    };
    const auto recognizer = load(dictionaryOf(triadsSixthAndSevenths()));
    const Case cases[] = {
        {{57, 60, 64, 67}, chord("Am7", {"C6"}, 9, 9, "m7", {0, 3, 7, 10})},
        {{64, 67, 72}, chord("C/E", {}, 0, 4, "", {0, 4, 7})},
        {{59, 60, 64, 67}, chord("Cmaj7", {}, 0, 11, "maj7", {0, 4, 7, 11})},
        {{64, 67, 69, 72}, chord("C6", {"Am7/E"}, 0, 4, "6", {0, 4, 7, 9})},
        // Fewer than two distinct notes, or no entry fits.
        {{}, ChordAnalysis::empty()},
        {{60, 60, 60}, ChordAnalysis::empty()},
        {{60, 72}, ChordAnalysis::empty()},
        {{60, 61, 62}, ChordAnalysis::empty()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.notes));
        EXPECT_EQ(recognizer->analyze(c.notes), c.expected);
    }
}

// Names rank by their canonical composition and count as one where equivalent. The other fit and
// ranking rules are checked against the plain definition below, on random dictionaries.
TEST(ChordAnalysis, NamesRankAndMergeByCanonicalComposition) {
    struct Case {
        const char* what;
        std::vector<ChordPattern> patterns;
        Notes notes;
        std::string principal;
        std::vector<std::string> alternatives;
    };
    const auto triad = [](const char* name) { return ChordPattern(name, {0, 4, 7}, {}, false); };
    const Case cases[] = {
        {"names compared in composed form: é sorts after f", {triad("e\u0301"), triad("f")}, {48, 52, 55}, "Cf",
         {"Ce\u0301"}},
        {"equivalent names fall to discovery order and count as one name", {triad("\u00e9"), triad("e\u0301")},
         {48, 52, 55}, "C\u00e9", {}},
        {"equivalent names at two roots",
         {ChordPattern("\u1e0b\u0323", {0, 6}, {}, false), ChordPattern("d\u0323\u0307", {0, 6}, {}, false)},
         {66, 72}, "F#\u1e0b\u0323", {"C\u1e0b\u0323"}},
        {"names equal once their marks are put in canonical order",
         {triad("\u0301\u0327"), triad("\u0327\u0301"), triad("\u0327")}, {48, 52, 55}, "C\u0327", {"C\u0301\u0327"}},
        {"one name for two entries that spell it alike",
         {ChordPattern("7", {0, 4, 10}, {7}, false), ChordPattern("7", {0, 4, 7, 10}, {}, false), triad("")},
         {48, 52, 55, 58}, "C7", {}},
        {"a root name and a suffix can spell another root's name",
         {ChordPattern("#", {0, 1}, {}, false), ChordPattern("", {0, 11}, {}, false)},
         {48, 61}, "C#", {}},
        {"a name written with a bass spells a name given one",
         {ChordPattern("7", {0, 4, 10}, {7}, false), ChordPattern("7/E", {0, 4, 10}, {9}, false)},
         {52, 60, 70}, "C7/E", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ChordAnalysis analysis = load(dictionaryOf(c.patterns))->analyze(c.notes);
        EXPECT_EQ(analysis.principal, c.principal);
        EXPECT_EQ(analysis.alternatives, c.alternatives);
    }
}

// The analysis written the plain way, straight from its definition: ordered sets, a sort with
// the six keys, names built as strings.
class ReferenceAnalysis {
public:
    explicit ReferenceAnalysis(std::vector<ChordPattern> patterns) : m_patterns(std::move(patterns)) {
        for (const ChordPattern& pattern : m_patterns) {
            m_composedNames.push_back(composed(pattern.name()));
        }
    }

    ChordAnalysis operator()(Notes notes) const {
        std::sort(notes.begin(), notes.end());
        notes.erase(std::unique(notes.begin(), notes.end()), notes.end());
        if (notes.size() < 2) {
            return ChordAnalysis::empty();
        }
        const int bass = ChordRecognizer::pitchClass(notes.front());
        std::set<int> roots;
        for (const auto note : notes) {
            roots.insert(ChordRecognizer::pitchClass(note));
        }
        std::vector<Match> matches;
        for (const int root : roots) {
            const std::set<int> played = intervalsAbove(notes, root);
            for (std::size_t index = 0; index < m_patterns.size(); ++index) {
                const ChordPattern& pattern = m_patterns[index];
                std::set<int> listed(pattern.required().begin(), pattern.required().end());
                listed.insert(pattern.optional().begin(), pattern.optional().end());
                if (std::includes(played.begin(), played.end(), pattern.required().begin(), pattern.required().end()) &&
                    std::includes(listed.begin(), listed.end(), played.begin(), played.end())) {
                    const auto optionalPlayed = std::count_if(pattern.optional().begin(), pattern.optional().end(),
                                                              [&](int interval) { return played.count(interval) > 0; });
                    matches.push_back({root, index, matches.size(), optionalPlayed, root == bass});
                }
            }
        }
        if (matches.empty()) {
            return ChordAnalysis::empty();
        }
        std::sort(matches.begin(), matches.end(), [&](const Match& a, const Match& b) { return before(a, b); });
        const auto inRootPosition = [](const Match& m) { return m.bassIsRoot; };
        const auto rootPosition = std::find_if(matches.begin(), matches.end(), inRootPosition);
        const Match principal = rootPosition != matches.end() ? *rootPosition : matches.front();

        ChordAnalysis analysis;
        analysis.principal = name(principal, bass);
        std::vector<Match> candidates;
        std::copy_if(matches.begin(), matches.end(), std::back_inserter(candidates), inRootPosition);
        candidates.insert(candidates.end(), matches.begin(), matches.end());
        const auto same = [](const std::string& a, const std::string& b) { return composed(a) == composed(b); };
        for (const Match& candidate : candidates) {
            const std::string display = name(candidate, bass);
            const bool isPrincipal = candidate.root == principal.root && candidate.index == principal.index;
            if (isPrincipal || same(display, analysis.principal) ||
                std::any_of(analysis.alternatives.begin(), analysis.alternatives.end(),
                            [&](const std::string& other) { return same(display, other); })) {
                continue;
            }
            analysis.alternatives.push_back(display);
            if (analysis.alternatives.size() == 4) {
                break;
            }
        }
        analysis.rootPitchClass = principal.root;
        analysis.bassPitchClass = bass;
        analysis.quality = m_patterns[principal.index].name();
        for (const int interval : intervalsAbove(notes, principal.root)) {
            analysis.intervals = PitchClassSet::fromMask(analysis.intervals.mask() | 1u << interval);
        }
        return analysis;
    }

private:
    struct Match {
        int root;
        std::size_t index;
        std::size_t discovery;
        std::ptrdiff_t optionalPlayed;
        bool bassIsRoot;
    };

    static std::set<int> intervalsAbove(const Notes& notes, int root) {
        std::set<int> intervals{0};
        for (const auto note : notes) {
            intervals.insert((ChordRecognizer::pitchClass(note) - root + 12) % 12);
        }
        return intervals;
    }

    static icu::UnicodeString composed(const std::string& text) {
        if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            return icu::UnicodeString::fromUTF8(text);
        }
        UErrorCode status = U_ZERO_ERROR;
        return icu::Normalizer2::getNFCInstance(status)->normalize(icu::UnicodeString::fromUTF8(text), status);
    }

    // The six keys: custom first, root position, more required intervals, more optional ones
    // played, the smaller composed name, discovery order.
    bool before(const Match& a, const Match& b) const {
        const auto key = [&](const Match& match) {
            const ChordPattern& pattern = m_patterns[match.index];
            return std::tuple(!pattern.isCustom(), !match.bassIsRoot, -std::ssize(pattern.required()), -match.optionalPlayed);
        };
        if (key(a) != key(b)) {
            return key(a) < key(b);
        }
        if (const int order = m_composedNames[a.index].compareCodePointOrder(m_composedNames[b.index]); order != 0) {
            return order < 0;
        }
        return a.discovery < b.discovery;
    }

    std::string name(const Match& match, int bass) const {
        const auto& names = ChordRecognizer::detectNoteNames();
        const ChordPattern& pattern = m_patterns[match.index];
        std::string display = names[static_cast<std::size_t>(match.root)] + pattern.name();
        const auto lists = [&](int interval) {
            return std::count(pattern.required().begin(), pattern.required().end(), interval) > 0 ||
                   std::count(pattern.optional().begin(), pattern.optional().end(), interval) > 0;
        };
        if (match.bassIsRoot || lists(2) || lists(5) || lists(9)) {
            return display;
        }
        const int interval = (bass - match.root + 12) % 12;
        if (interval == 3 || interval == 4 || interval == 7 || interval == 10) {
            display += "/" + names[static_cast<std::size_t>(bass)];
        }
        return display;
    }

    std::vector<ChordPattern> m_patterns;
    std::vector<icu::UnicodeString> m_composedNames;
};

TEST(ChordAnalysis, AgreesWithThePlainDefinitionOnRandomDictionaries) {
    std::mt19937 engine(31);
    const auto below = [&](unsigned limit) { return static_cast<int>(engine() % limit); };
    // Names that sort in surprising ways once composed, that spell a longer root's name with the
    // root ("C" + "#m"), that begin with a combining mark, or that end like a bass.
    const std::vector<std::string> names{"", "m", "7", "\u00e9", "e\u0301", "f", "Δ", "ø", "°7", "x", "#", "#m", "b", "b7",
                                         "\u0301", "\u0327", "\u0301\u0327", "7/E", "/E", "m/C", "\u1e0b\u0323",
                                         "d\u0323\u0307", "\U0001D12A", "\uff21"};
    const auto randomIntervals = [&](unsigned oneIn) {
        Values values;
        for (int interval = 0; interval < 12; ++interval) {
            if (below(oneIn) == 0) {
                values.push_back(interval + 12 * (below(5) - 2));
            }
        }
        return values;
    };
    const auto randomNotes = [&] {
        Notes notes;
        for (int count = 2 + below(6); count > 0; --count) {
            notes.push_back(below(3) == 0 ? below(200) - 50 : 48 + below(24));
        }
        if (below(4) == 0) {
            notes.push_back(notes.front()); // a repeated note
        }
        return notes;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<ChordPattern> patterns;
        for (int count = 1 + below(14); count > 0; --count) {
            const auto& name = names[static_cast<std::size_t>(below(static_cast<unsigned>(names.size())))];
            patterns.emplace_back(name, randomIntervals(3), randomIntervals(4), below(5) == 0);
        }
        if (round % 50 == 0) {
            // Entries allowing nearly everything: too many sets to tabulate, so every entry is
            // tested at every call instead; the results must not change.
            for (int i = 0; i < 600; ++i) {
                patterns.emplace_back("w", Values{}, Values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, false);
            }
        }
        const auto recognizer = load(dictionaryOf(patterns));
        const ReferenceAnalysis reference(patterns);
        for (int trial = 0; trial < 40; ++trial) {
            const Notes notes = randomNotes();
            const ChordAnalysis analysis = recognizer->analyze(notes);
            ASSERT_EQ(analysis, reference(notes))
                << testing::PrintToString(notes) << " with " << dictionaryOf(patterns);
        }
    }
}

} // namespace
} // namespace quenlitor
