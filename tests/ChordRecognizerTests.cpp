// The chord dictionary format, its loading failures and the analysis with its six ranking keys.
#include "ChordRecognizer.hpp"
#include "platform/Error.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

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

TEST(ChordPattern, NormalisesIntervalsTheSameFromValuesAndFromJSON) {
    constexpr auto maximum = std::numeric_limits<std::int64_t>::max();
    // The JSON holds the same intervals as the values; then the normalised lists.
    const std::tuple<const char*, Values, Values, std::vector<int>, std::vector<int>> cases[] = {
        {R"([4, 7, 16, -5, 7], "opcionales": [])", {4, 7, 16, -5, 7}, {}, {0, 4, 7}, {}},
        {R"([], "opcionales": [14, 2, 26])", {}, {14, 2, 26}, {0}, {2}},
        {R"([0, 4, 7], "opcionales": [0, 4])", {0, 4, 7}, {0, 4}, {0, 4, 7}, {0, 4}},
        {R"([12, -12, -1], "opcionales": [-13, 23])", {12, -12, -1}, {-13, 23}, {0, 11}, {11}},
        {"[9223372036854775807, -9223372036854775808]", {maximum, -maximum - 1}, {}, {0, 4, 7}, {}},
        {R"([7.0, 4e0, -0.0], "opcionales": [1.1e1])", {7, 4, 0}, {11}, {0, 4, 7}, {11}}, // whole reals are integers
    };
    for (const auto& [json, required, optional, expectedRequired, expectedOptional] : cases) {
        SCOPED_TRACE(json);
        const ChordPattern fromValues("x", required, optional, false);
        EXPECT_EQ(fromValues.required(), expectedRequired);
        EXPECT_EQ(fromValues.optional(), expectedOptional);
        EXPECT_EQ(ChordPattern::fromJSON(std::string(R"({"nombre": "x", "obligatorias": )") + json + "}"), fromValues);
    }
    // Every test dictionary here is written with toJSON; a name that is not UTF-8 must not stop it.
    EXPECT_NO_THROW(ChordPattern("\xff", {}, {}, false).toJSON());
    const auto alone = errorOf([] { ChordPattern::fromJSON(R"({"is_custom": 1})"); });
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->description(), "La entrada de acorde tiene un valor de tipo incorrecto en is_custom.");
}

// The code is the JSON library's (or this system's own, below 100); the description, which the
// menu shows, says in Spanish what is wrong and where (only its opening is checked where none is
// given). One wrong entry fails the whole file.
TEST(ChordRecognizer, MalformedDocumentsSayWhatAndWhere) {
    const auto entry = [](std::string_view json) { return R"({"chords": [{}, )" + std::string(json) + "]}"; };
    std::string huge = R"({"chords": [)";
    for (int i = 0; i < 1'000'001; ++i) {
        huge += "0,";
    }
    const std::tuple<std::string, long, std::string_view> cases[] = {
        {"", 101, "no es JSON válido (línea 1, columna 1)."},
        {"{\n  \"chords\": [\n    {\"nombre\": \"\u00f1\" x", 101, "no es JSON válido (línea 3, columna 20)."},
        {entry(R"({"nombre": "m7")"), 101, ""}, {"{\"chords\": [{\"nombre\": \"\xC3\"}]}", 101, ""}, // not UTF-8
        {R"({"Chords": [{}]})", 403, "no tiene la lista chords."},
        {"[]", 304, "no es un objeto JSON con la lista chords."},
        {R"({"chords": 3})", 302, "tiene un valor de tipo incorrecto en chords."},
        {R"({"chords": {"nombre": ""}})", 302, ""}, {entry("3"), 302, "tiene un valor de tipo incorrecto en chords[1]."},
        {entry(R"({"obligatorias": [0, 4, "7"]})"), 302, "tiene un valor de tipo incorrecto en chords[1].obligatorias[2]."},
        {entry(R"({"nombre": ["m"]})"), 302, "tiene un valor de tipo incorrecto en chords[1].nombre."},
        {entry(R"({"is_custom": "true"})"), 302, "tiene un valor de tipo incorrecto en chords[1].is_custom."},
        {entry(R"({"opcionales": 4})"), 302, "tiene un valor de tipo incorrecto en chords[1].opcionales."},
        {entry(R"({"opcionales": [0.5]})"), 302, "tiene un número que no es entero en chords[1].opcionales[0]."},
        {entry(R"({"opcionales": [1e30]})"), 406, "tiene un número demasiado grande en chords[1].opcionales[0]."},
        {entry(R"({"obligatorias": [18446744073709551615]})"), 406, ""},
        // Beyond a double, the parser itself cannot hold the number: refused at its place, wherever
        // it is, whether the reader looks at that key or not.
        {R"({"chords": [{"nombre": "x", "extra": 1E400}]})", 406, "tiene un número demasiado grande en chords[0].extra."},
        {R"({"chords": [{"nombre": 1E999999}]})", 406, "tiene un número demasiado grande en chords[0].nombre."},
        {entry(R"({"obligatorias": [0, -1e309]})"), 406, "tiene un número demasiado grande en chords[1].obligatorias[1]."},
        {R"({"version": [1, [2], {"a": [3, 1e309]}], "chords": [{}]})", 406,
         "tiene un número demasiado grande en version[2].a[1]."},
        {R"({"chords": [{}], "": -1e400})", 406, "tiene un número demasiado grande en ."},
        {"1e400", 406, "tiene un número demasiado grande en la raíz del documento."},
        // Found by the fuzzer: the overflow inside a name's place of a document that is cut short.
        {R"({"chords": [{"nombre":9999999999999999999999999999999999999999999999999999999999999999999999999999999999E9999999999999 "", "obligatorias": [0, 4,{"chOchords": [{"nomb 7], "opcionRe": 6}rds": []}ales)",
         406, "tiene un número demasiado grande en chords[0].nombre."},
        // This system's own refusals: an empty list, millions of values (while they are read, before
        // they fill the memory), and names that, pasted into a terminal, could run escape sequences
        // or show another text.
        {R"({"chords": [], "version": 2})", 1, "está vacío."},
        {huge + "0]}", 3, "tiene demasiados valores (más de 1000000)."},
        {entry(R"({"nombre": "m\u0000"})"), 2, "tiene caracteres de control en chords[1].nombre."},
        {entry("{\"nombre\": \"m\x7f\"}"), 2, ""}, {entry(R"({"nombre": "m\u0085"})"), 2, ""},
        {entry(R"({"nombre": "\u202em7"})"), 2, ""}, {entry(R"({"nombre": "m\u2066"})"), 2, ""},
    };
    for (const auto& [json, code, what] : cases) {
        SCOPED_TRACE(json.substr(0, 200));
        if (const auto error = errorOf([&] { load(json); })) {
            EXPECT_EQ(error->domain(), code < 100 ? "QuenlitorMIDI" : "JSON");
            EXPECT_EQ(error->code(), code);
            EXPECT_EQ(error->description().substr(0, what.empty() ? 26 : std::string::npos),
                      "El diccionario de acordes " + std::string(what));
        }
    }
    EXPECT_NO_THROW(load(R"({"chords": [{"nombre": "ø7 Δ °7 \u2013 \u202f"}]})"));
}

// Absent or null keys take defaults; other keys are ignored.
TEST(ChordRecognizer, KeepsEveryEntryInFileOrder) {
    const std::string json = R"({"comment": "acordes", "chords": [
        {"nombre": "m", "obligatorias": [3, 7], "color": "azul"},
        {"nombre": null, "obligatorias": null, "opcionales": null, "is_custom": null, "Nombre": 5},
        {"nombre": "m", "obligatorias": [3, 7]},
        {"nombre": "nunca", "obligatorias": [1, 2, 3], "opcionales": [1], "is_custom": true}
    ]})";
    const std::vector<ChordPattern> expected{ChordPattern("m", {3, 7}, {}, false), ChordPattern("", {}, {}, false),
                                             ChordPattern("m", {3, 7}, {}, false),
                                             ChordPattern("nunca", {1, 2, 3}, {1}, true)};
    for (const auto& recognizer : {load(json), ChordRecognizer::create(std::as_bytes(std::span(json)))}) {
        EXPECT_EQ(recognizer->patternCount(), 4u);
        EXPECT_EQ(recognizer->chordPatterns(), expected);
    }
}

TEST(ChordAnalysis, SharedNotesGiveAlternativesInversionsASlashBassAndNoFitNothing) {
    const auto recognizer = load(R"({"chords": [{"obligatorias": [0, 4, 7]}, {"nombre": "m", "obligatorias": [0, 3, 7]},
        {"nombre": "6", "obligatorias": [0, 4, 7, 9]}, {"nombre": "m7", "obligatorias": [0, 3, 7, 10]},
        {"nombre": "maj7", "obligatorias": [0, 4, 7, 11]}]})");
    const std::pair<Notes, ChordAnalysis> cases[] = {
        {{57, 60, 64, 67}, {"Am7", {"C6"}, 9, 9, "m7", {0, 3, 7, 10}}},
        {{64, 67, 72}, {"C/E", {}, 0, 4, "", {0, 4, 7}}},
        {{59, 60, 64, 67}, {"Cmaj7", {}, 0, 11, "maj7", {0, 4, 7, 11}}},
        {{64, 67, 69, 72}, {"C6", {"Am7/E"}, 0, 4, "6", {0, 4, 7, 9}}},
        // Fewer than two distinct notes, or no entry fits.
        {{}, ChordAnalysis::empty()}, {{60, 60, 60}, ChordAnalysis::empty()}, {{60, 72}, ChordAnalysis::empty()},
        {{60, 61, 62}, ChordAnalysis::empty()},
    };
    for (const auto& [notes, expected] : cases) {
        EXPECT_EQ(recognizer->analyze(notes), expected) << testing::PrintToString(notes);
    }
}

// Fits rank by custom flag, root position, required count, optional intervals played, name in
// canonical composition and discovery order, though a root-position fit always takes the
// principal place and its names lead the alternatives. Each row is checked again in a dictionary
// so wide that every entry is tested at every call, with entries that never fit these notes.
TEST(ChordAnalysis, FitsRankByTheSixKeysAndNamesMergeByCanonicalComposition) {
    const auto p = [](const char* name, Values required, Values optional = {}, bool custom = false) {
        return ChordPattern(name, std::move(required), std::move(optional), custom);
    };
    const Values t{0, 4, 7};
    const Notes c{48, 52, 55};
    const std::tuple<const char*, std::vector<ChordPattern>, Notes, std::string, std::vector<std::string>> cases[] = {
        {"custom first", {p("a", t), p("b", t, {}, true)}, c, "Cb", {"Ca"}},
        {"more required intervals", {p("a", {0, 7}, {4}), p("b", t)}, c, "Cb", {"Ca"}},
        {"more optional intervals played", {p("a", t), p("b", t, {4})}, c, "Cb", {"Ca"}},
        {"smaller name; four alternatives", {p("e", t), p("d", t), p("c", t), p("b", t), p("a", t), p("f", t)}, c, "Ca",
         {"Cb", "Cc", "Cd", "Ce"}},
        {"root position is principal over custom, and leads the alternatives",
         {p("6", {0, 4, 7, 9}, {}, true), p("x", {0, 3, 7, 10}), p("m7", {0, 3, 7, 10})}, {57, 60, 64, 67}, "Am7",
         {"Ax", "C6"}},
        {"names compared in composed form: é sorts after f", {p("e\u0301", t), p("f", t)}, c, "Cf", {"Ce\u0301"}},
        {"equivalent names fall to discovery order, count as one", {p("\u00e9", t), p("e\u0301", t)}, c, "C\u00e9", {}},
        {"equivalent names at two roots", {p("\u1e0b\u0323", {0, 6}), p("d\u0323\u0307", {0, 6})}, {66, 72},
         "F#\u1e0b\u0323", {"C\u1e0b\u0323"}},
        {"names equal once their marks are put in canonical order",
         {p("\u0301\u0327", t), p("\u0327\u0301", t), p("\u0327", t)}, c, "C\u0327", {"C\u0301\u0327"}},
        {"one name for two entries that spell it alike", {p("7", {0, 4, 10}, {7}), p("7", {0, 4, 7, 10}), p("", t)},
         {48, 52, 55, 58}, "C7", {}},
        {"a root name and a suffix can spell another root's name", {p("#", {0, 1}), p("", {0, 11})}, {48, 61}, "C#", {}},
        {"a name written with a bass spells a name given one", {p("7", {0, 4, 10}, {7}), p("7/E", {0, 4, 10}, {9})},
         {52, 60, 70}, "C7/E", {}},
    };
    // Fits only three notes a semitone apart, and allows too much for a table of fits.
    const std::vector<ChordPattern> wide(2100, p("w", {0, 1, 2}, {3, 4, 5, 6, 7, 8, 9, 10, 11}));
    for (const auto& [what, patterns, notes, principal, alternatives] : cases) {
        SCOPED_TRACE(what);
        auto widened = patterns;
        widened.insert(widened.end(), wide.begin(), wide.end());
        for (const auto& dictionary : {patterns, widened}) {
            const ChordAnalysis analysis = load(dictionaryOf(dictionary))->analyze(notes);
            EXPECT_EQ(analysis.principal, principal);
            EXPECT_EQ(analysis.alternatives, alternatives);
        }
    }
}

} // namespace
} // namespace quenlitor
