// The canonical spelling of titles and tokens, including what arrives broken or disguised.
#include "TokenTextNormalizer.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quenlitor {
namespace {

namespace normalizer = TokenTextNormalizer;

struct Row {
    std::string input;
    std::string expected;
};

// "\xEF\xBF\xBD" is U+FFFD in UTF-8.
const std::string replacement = "\uFFFD";

// Titles: chord symbols written out, quotation marks made apostrophes, invisible characters
// dropped and whitespace made spaces, then trimmed.
TEST(TokenTextNormalizer, TitleSpellsChordsOutWithoutQuotesOrInvisibles) {
    const std::vector<Row> rows{
        {" C∆9 ", "Cmaj9"},    {"C△", "Cmaj7"},           {"C▵", "Cmaj7"},
        {"CΔ7", "Cmaj7"},      {"CΔ13", "Cmaj13"},        {"CΔ11", "Cmaj11"},
        {"CΔ1", "Cmaj71"},     {"CΔ", "Cmaj7"},           {"CΔ9ΔΔ7", "Cmaj9maj7maj7"},
        {"Bø", "Bm7(b5)"},     {"BØ9", "Bm9(b5)"},        {"Bø13", "Bm13(b5)"},
        {"Bø1", "Bm7(b5)1"},   {"Bø7", "Bm7(b5)"},        {"C°7", "Cdim7"},
        {"Cº7", "Cdim7"},      {"C°", "Cdim"},            {"B♭m7", "Bbm7"},
        {"C𝄪", "C##"},         {"B𝄫", "Bbb"},             {"F♯m7", "F#m7"},
        {"C♮", "C"},           {"C∅", "Cm7(b5)"},         {"C∘", "Cdim"},
        {"C7−9", "C7-9"},      {"C7–9—11", "C7-9-11"},    {"Cm/E♭", "Cm/Eb"},
        {"ø", "m7(b5)"},       {"CΔø°", "Cmaj7m7(b5)dim"},
        // Typographic quotes become U+0022 first, then apostrophes.
        {"“Cmaj7”", "'Cmaj7'"}, {"C\"E", "C'E"},            {"‘C’", "'C'"},           {"\"\"", "''"},
        {"C\u200DE", "CE"},     {"C\u200B\u200C\u200D\u2060\uFEFF\uFE0E\uFE0FE", "CE"},
        {"do\tre", "do re"},    {"do\t\nre", "do  re"},  // runs are not collapsed
        {" \t do re \t ", "do re"},
        {"\u00A0do\u2028re\u0085mi\u3000fa\u2029", "do re mi fa"},
        {"\u1680\u2000\u200A\u202F\u205F\r\v\fC", "C"},
        {"C\u200B ", "C"},  // the removal comes before trimming
        {"\u180EC", "\u180EC"},  // Mongolian vowel separator: format, not space, since Unicode 6.3
        {"\x1C\x1F\b\x0E\u0084C", "\x1C\x1F\b\x0E\u0084C"},  // neither separators nor other controls are in the class
        {"", ""},                {" \t\u200B\n", ""},
        // Composed first, after the invisible characters are gone; the glyphs are replaced after.
        {"Ce\u0301", "C\u00E9"},
        {"e\u200D\u0301", "\u00E9"},
        {"\u00D8\u0301", "\u01FE"},  // Ø with acute is no longer the Ø of the table
        {"B\u00F8\u0301", "B\u01FF"},
        {"e\u266E\u0301", "e\u0301"},  // deleting ♮ after composition leaves the pair decomposed
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalizer::title(input), expected);
    }
}

TEST(TokenTextNormalizer, TokenTreatsOnlyAnOpeningQuotedTitle) {
    const std::vector<Row> rows{
        {"“CΔ” C4 E G .", "\"Cmaj7\" C4 E G ."},
        {"\" C°7\t\" C4 Eb Gb A .", "\"Cdim7\" C4 Eb Gb A ."},  // the title is trimmed inside its quotes
        {"\"CΔ\" C4 Δ ° .", "\"Cmaj7\" C4 Δ ° ."},  // symbols outside the title are kept
        {" \"CΔ\" C4 . ", " \"CΔ\" C4 . "},  // no opening quote: canonical only, untrimmed
        {"\"", "\""},
        {"\"CΔ C4 .", "\"CΔ C4 ."},  // never closed
        {"\"\" C4 E .", "\"\" C4 E ."},  // an empty title is kept
        {"\"CΔ\" C4 \"DΔ\" .", "\"Cmaj7\" C4 \"DΔ\" ."},  // a second quoted part is not treated
        {"\"C\tΔ\"\tC4\n.", "\"C maj7\" C4 ."},
        {"C4\u200B E4 .", "C4 E4 ."},
        {"\"\u200DCΔ\" C4 .", "\"Cmaj7\" C4 ."},  // the joiner is gone before characters are told apart
        {"“C\u2019s”", "\"C's\""},
        {"", ""},
        // A quotation mark with a mark of its own is part of a larger character, not a lone one.
        // A combining acute or a spacing mark on the opening quote: no title.
        {"\"\u0301CΔ\" C4 .", "\"\u0301CΔ\" C4 ."},
        {"\"\u0903CΔ\" C4 .", "\"\u0903CΔ\" C4 ."},
        // A mark on the first closing quote: the title closes at the next lone one.
        {"\"CΔ\"\u0301 x\" C4 .", "\"Cmaj7'\u0301 x\" C4 ."},
        // U+0600 is a prepended concatenation mark: the quote after it belongs to its character.
        {"\"C\u0600\" x\" C4 .", "\"C\u0600' x\" C4 ."},
        {"\"C\u0600\" C4 .", "\"C\u0600\" C4 ."},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalizer::token(input), expected);
    }
}

TEST(TokenTextNormalizer, IllFormedUTF8BecomesReplacementCharacters) {
    const std::vector<Row> rows{
        {"C\xFF", "C" + replacement},
        {"\xFF\xFE", replacement + replacement},
        {"C\xC3", "C" + replacement},                                  // truncated two-byte sequence
        {"\xE2\x88" "C", replacement + "C"},                           // truncated ∆: one maximal subpart
        {"\xC0\xAF", replacement + replacement},                       // overlong '/'
        {"\xED\xA0\x80", replacement + replacement + replacement},     // an encoded surrogate
        {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},
        {"\x80" "C\xBF", replacement + "C" + replacement},             // stray continuation bytes
        {std::string("C\0E", 3), std::string("C\0E", 3)},               // NUL is a character like any other
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(::testing::PrintToString(input));
        EXPECT_EQ(normalizer::title(input), expected);
        EXPECT_EQ(normalizer::token(input), expected);
    }
    EXPECT_EQ(normalizer::token("\"C\xFF\xCE\x94\" C4 \xCE ."),
              "\"C" + replacement + "maj7\" C4 " + replacement + " .");
}

TEST(TokenTextNormalizer, NoWhitespaceOutsideTheBasicPlane) {
    // The normalizer works on UTF-16 units in the belief that every whitespace code point is one.
    for (char32_t c = 0x10000; c <= 0x10FFFF; ++c) {
        if (normalizer::detail::isWhitespaceOrNewline(c)) {
            ADD_FAILURE() << "supplementary whitespace U+" << std::hex << static_cast<unsigned>(c);
        }
    }
}

TEST(TokenTextNormalizer, LongTextsGrowAndLimitIsEnforced) {
    std::string deltas;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        deltas += "Δ13ø";
        expected += "maj13m7(b5)";
    }
    EXPECT_EQ(normalizer::title(deltas), expected);
    EXPECT_EQ(normalizer::token("\"" + deltas + "\" C4 ."), "\"" + expected + "\" C4 .");

    const std::string tooLong(normalizer::maximumInputBytes + 1, 'C');
    EXPECT_THROW(normalizer::title(tooLong), std::length_error);
    EXPECT_THROW(normalizer::token(tooLong), std::length_error);
}

TEST(TokenTextNormalizer, CallableFromManyThreadsAtOnce) {
    // Run under ThreadSanitizer too (the tsan preset): state shared between calls would mix up texts.
    const std::vector<Row> rows{
        {"“CΔ” C4 E G .", "\"Cmaj7\" C4 E G ."},
        {"\"Bø\" B3 D4 F A .", "\"Bm7(b5)\" B3 D4 F A ."},
        {"\"C°7\" C4 Eb Gb A .", "\"Cdim7\" C4 Eb Gb A ."},
        {"\"\" C4 .", "\"\" C4 ."},
    };
    std::vector<int> failures(rows.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < rows.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                failures[t] += normalizer::token(rows[t].input) != rows[t].expected;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(rows.size(), 0));
}

} // namespace
} // namespace quenlitor
