// The canonical spelling of titles and tokens, including what arrives broken or disguised.
#include "TokenTextNormalizer.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace quenlitor {
namespace {

namespace normalizer = TokenTextNormalizer;
using Rows = std::vector<std::pair<std::string, std::string>>;

// Titles: chord symbols written out, quotation marks made apostrophes, invisible characters
// dropped and whitespace made spaces, then trimmed.
TEST(TokenTextNormalizer, TitleSpellsChordsOutWithoutQuotesOrInvisibles) {
    const Rows rows{
        {" C∆9 ", "Cmaj9"}, {"C△ C▵ CΔ7 CΔ", "Cmaj7 Cmaj7 Cmaj7 Cmaj7"}, {"CΔ13 CΔ11 CΔ1", "Cmaj13 Cmaj11 Cmaj71"},
        {"CΔ9ΔΔ7", "Cmaj9maj7maj7"}, {"Bø BØ9 Bø13", "Bm7(b5) Bm9(b5) Bm13(b5)"}, {"Bø1 Bø7", "Bm7(b5)1 Bm7(b5)"},
        {"C°7 Cº7 C° C∘", "Cdim7 Cdim7 Cdim Cdim"}, {"B♭m7 C𝄪 B𝄫 F♯m7 C♮ C∅", "Bbm7 C## Bbb F#m7 C Cm7(b5)"},
        {"C7−9 C7–9—11 Cm/E♭", "C7-9 C7-9-11 Cm/Eb"}, {"CΔø°", "Cmaj7m7(b5)dim"},
        // Typographic quotes become U+0022 first, then apostrophes.
        {"“Cmaj7” C\"E ‘C’ \"\"", "'Cmaj7' C'E 'C' ''"},
        {"C\u200B\u200C\u200D\u2060\uFEFF\uFE0E\uFE0FE", "CE"}, {"do\t\nre", "do  re"}, // runs are not collapsed
        {"\u00A0do\u2028re\u0085mi\u3000fa\u2029", "do re mi fa"}, {"", ""}, {" \t\u200B\n", ""},
        {"\u1680\u2000\u200A\u202F\u205F\r\v\f C\u200B ", "C"}, // the removal comes before trimming
        {"\u180EC", "\u180EC"}, // Mongolian vowel separator: format, not space, since Unicode 6.3
        {"\x1C\x1F\b\x0E\u0084C", "\x1C\x1F\b\x0E\u0084C"}, // neither separators nor other controls are in the class
        // Composed first, after the invisible characters are gone; the glyphs are replaced after.
        {"Ce\u0301 e\u200D\u0301", "C\u00E9 \u00E9"},
        {"\u00D8\u0301 B\u00F8\u0301", "\u01FE B\u01FF"}, // Ø with acute is no longer the Ø of the table
        {"e\u266E\u0301", "e\u0301"}, // deleting ♮ after composition leaves the pair decomposed
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalizer::title(input), expected);
    }
}

TEST(TokenTextNormalizer, TokenTreatsOnlyAnOpeningQuotedTitle) {
    const Rows rows{
        {"“CΔ” C4 E G .", "\"Cmaj7\" C4 E G ."},
        {"\" C°7\t\" C4 Eb Gb A .", "\"Cdim7\" C4 Eb Gb A ."}, // the title is trimmed inside its quotes
        {"\"CΔ\" C4 Δ ° .", "\"Cmaj7\" C4 Δ ° ."},            // symbols outside the title are kept
        {" \"CΔ\" C4 . ", " \"CΔ\" C4 . "},                    // no opening quote: canonical only, untrimmed
        {"\"", "\""}, {"\"CΔ C4 .", "\"CΔ C4 ."}, {"\"\" C4 E .", "\"\" C4 E ."}, {"", ""},
        {"\"CΔ\" C4 \"DΔ\" .", "\"Cmaj7\" C4 \"DΔ\" ."}, // a second quoted part is not treated
        {"\"C\tΔ\"\tC4\n.", "\"C maj7\" C4 ."}, {"“C\u2019s”", "\"C's\""},
        {"\"\u200DCΔ\" C4\u200B .", "\"Cmaj7\" C4 ."}, // the joiner is gone before characters are told apart
        // A quotation mark with a mark of its own is part of a larger character, not a lone one:
        // a combining acute or a spacing mark on the opening quote, no title; on the first closing
        // quote, the title closes at the next lone one. U+0600 is a prepended concatenation mark:
        // the quote after it belongs to its character.
        {"\"\u0301CΔ\" C4 .", "\"\u0301CΔ\" C4 ."}, {"\"\u0903CΔ\" C4 .", "\"\u0903CΔ\" C4 ."},
        {"\"CΔ\"\u0301 x\" C4 .", "\"Cmaj7'\u0301 x\" C4 ."},
        {"\"C\u0600\" x\" C4 .", "\"C\u0600' x\" C4 ."}, {"\"C\u0600\" C4 .", "\"C\u0600\" C4 ."},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalizer::token(input), expected);
    }
}

// Each maximal ill-formed subpart becomes one U+FFFD.
TEST(TokenTextNormalizer, IllFormedUTF8BecomesReplacementCharacters) {
    const std::string r = "\uFFFD";
    const Rows rows{
        {"C\xFF", "C" + r}, {"\xFF\xFE", r + r}, {"C\xC3", "C" + r}, {"\xE2\x88" "C", r + "C"},
        {"\xC0\xAF", r + r}, {"\xED\xA0\x80", r + r + r}, {"\xF4\x90\x80\x80", r + r + r + r},
        {"\x80" "C\xBF", r + "C" + r}, {std::string("C\0E", 3), std::string("C\0E", 3)},
    };
    for (const auto& [input, expected] : rows) {
        SCOPED_TRACE(testing::PrintToString(input));
        EXPECT_EQ(normalizer::title(input), expected);
        EXPECT_EQ(normalizer::token(input), expected);
    }
    EXPECT_EQ(normalizer::token("\"C\xFF\xCE\x94\" C4 \xCE ."), "\"C" + r + "maj7\" C4 " + r + " .");
}

// The normalizer works on UTF-16 units in the belief that every whitespace code point is one.
TEST(TokenTextNormalizer, NoWhitespaceOutsideTheBasicPlane) {
    for (char32_t c = 0x10000; c <= 0x10FFFF; ++c) {
        ASSERT_FALSE(normalizer::detail::isWhitespaceOrNewline(c)) << std::hex << static_cast<unsigned>(c);
    }
}

TEST(TokenTextNormalizer, TextsOverTheLimitAreRefused) {
    const std::string tooLong(normalizer::maximumInputBytes + 1, 'C');
    EXPECT_THROW(normalizer::title(tooLong), std::length_error);
    EXPECT_THROW(normalizer::token(tooLong), std::length_error);
}

// Run under ThreadSanitizer too (the tsan preset): state shared between calls would mix up texts.
TEST(TokenTextNormalizer, CallableFromManyThreadsAtOnce) {
    const Rows rows{{"“CΔ” C4 E G .", "\"Cmaj7\" C4 E G ."}, {"\"Bø\" B3 D4 F A .", "\"Bm7(b5)\" B3 D4 F A ."},
                    {"\"C°7\" C4 .", "\"Cdim7\" C4 ."}, {"\"\" C4 .", "\"\" C4 ."}};
    std::vector<int> failures(rows.size());
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < rows.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                failures[t] += normalizer::token(rows[t].first) != rows[t].second;
            }
        });
    }
    threads.clear();
    EXPECT_EQ(failures, std::vector<int>(rows.size(), 0));
}

} // namespace
} // namespace quenlitor
