#include "TokenTextNormalizer.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

namespace quenlitor::TokenTextNormalizer {

namespace {

using icu::UnicodeString;

constexpr std::array<char32_t, 7> removalSet{0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF, 0xFE0E, 0xFE0F};

struct GlyphPair {
    char32_t find;
    std::u16string_view replacement;
};

// The font's glyphs reached through look-alike characters, in the order they are applied.
constexpr std::array<GlyphPair, 19> glyphPairs{{
    {0x2206, u"\u0394"}, // ∆ increment → Δ
    {0x25B3, u"\u0394"}, // △ white up-pointing triangle → Δ
    {0x25B5, u"\u0394"}, // ▵ white up-pointing small triangle → Δ
    {0x00BA, u"\u00B0"}, // º masculine ordinal indicator → °
    {0x2218, u"\u00B0"}, // ∘ ring operator → °
    {0x00D8, u"\u00F8"}, // Ø → ø
    {0x2205, u"\u00F8"}, // ∅ empty set → ø
    {0x1D12B, u"bb"},    // 𝄫 musical double flat
    {0x1D12A, u"##"},    // 𝄪 musical double sharp
    {0x266D, u"b"},      // ♭
    {0x266F, u"#"},      // ♯
    {0x266E, u""},       // ♮ natural sign: deleted
    {0x2212, u"-"},      // − minus sign
    {0x2013, u"-"},      // – en dash
    {0x2014, u"-"},      // — em dash
    {0x201C, u"\""},     // “
    {0x201D, u"\""},     // ”
    {0x2018, u"'"},      // ‘
    {0x2019, u"'"},      // ’
}};

// Applying the pairs one after another equals replacing each code point by its pair's
// replacement in a single pass: every find is one code point, and no replacement contains a
// surrogate or the find of a later pair, so no pair can match what an earlier one wrote, and a
// deletion cannot join two code points into a match.
constexpr bool glyphPairsApplyInOnePass() {
    for (std::size_t i = 0; i < glyphPairs.size(); ++i) {
        for (const char16_t unit : glyphPairs[i].replacement) {
            if (U16_IS_SURROGATE(unit)) {
                return false;
            }
            for (std::size_t later = i + 1; later < glyphPairs.size(); ++later) {
                if (unit == glyphPairs[later].find) {
                    return false;
                }
            }
        }
    }
    return true;
}
static_assert(glyphPairsApplyInOnePass());

constexpr char32_t lowestGlyphFind =
    std::min_element(glyphPairs.begin(), glyphPairs.end(), [](const GlyphPair& a, const GlyphPair& b) {
        return a.find < b.find;
    })->find;

// A read-only UnicodeString over constant UTF-16 text, without copying it.
UnicodeString alias(std::u16string_view text) {
    return UnicodeString(false, text.data(), static_cast<std::int32_t>(text.size()));
}

std::u16string_view view(const UnicodeString& text) {
    return {text.getBuffer(), static_cast<std::size_t>(text.length())};
}

UnicodeString fromUTF8(std::string_view text) {
    if (text.size() > maximumInputBytes) {
        throw std::length_error("TokenTextNormalizer: text longer than maximumInputBytes");
    }
    UnicodeString result;
    if (text.empty()) {
        return result;
    }
    const auto length = static_cast<std::int32_t>(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    // Never more UTF-16 units than UTF-8 bytes: a four-byte sequence gives two units, an
    // ill-formed subsequence of one byte or more gives one.
    char16_t* units = result.getBuffer(length);
    if (units == nullptr) {
        throw std::bad_alloc();
    }
    std::int32_t written = 0;
    for (std::int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT_OR_FFFD(bytes, at, length, c);
        U16_APPEND_UNSAFE(units, written, c);
    }
    result.releaseBuffer(written);
    return result;
}

std::string toUTF8(const UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// Step one of `canonical`, in place: dropping a code point or writing one space for it never
// lengthens the text.
void dropInvisiblesAndSpaceOut(UnicodeString& text) {
    // Every code point of the removal set and of the whitespace class is a single UTF-16 unit.
    const std::u16string_view units16 = view(text);
    if (std::none_of(units16.begin(), units16.end(), [](char16_t unit) {
            return detail::isRemoved(unit) || (unit != u' ' && detail::isWhitespaceOrNewline(unit));
        })) {
        return;
    }
    const std::int32_t length = text.length();
    char16_t* units = text.getBuffer(-1);
    if (units == nullptr) {
        throw std::bad_alloc();
    }
    std::int32_t written = 0;
    for (std::int32_t at = 0; at < length;) {
        std::int32_t start = at;
        UChar32 c = 0;
        U16_NEXT(units, at, length, c);
        const auto codePoint = static_cast<char32_t>(c);
        if (detail::isRemoved(codePoint)) {
            continue;
        }
        if (detail::isWhitespaceOrNewline(codePoint)) {
            units[written++] = u' ';
            continue;
        }
        while (start < at) {
            units[written++] = units[start++];
        }
    }
    text.releaseBuffer(written);
}

const icu::Normalizer2* nfc() {
    static const icu::Normalizer2* const instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
        return U_SUCCESS(status) ? normalizer : nullptr;
    }();
    return instance;
}

void composeNFC(UnicodeString& text) {
    // ICU's data is linked into the library, so the instance is always there; were it missing,
    // leaving the text as it is beats failing.
    const icu::Normalizer2* normalizer = nfc();
    if (normalizer == nullptr) {
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    const std::int32_t normalizedPrefix = normalizer->spanQuickCheckYes(text, status);
    if (U_FAILURE(status) || normalizedPrefix == text.length()) {
        return;
    }
    UnicodeString composed(text, 0, normalizedPrefix);
    normalizer->normalizeSecondAndAppend(composed, text.tempSubString(normalizedPrefix), status);
    if (U_SUCCESS(status)) {
        text = std::move(composed);
    }
}

const GlyphPair* glyphPair(UChar32 c) {
    if (static_cast<char32_t>(c) < lowestGlyphFind) {
        return nullptr;
    }
    const auto pair = std::find_if(glyphPairs.begin(), glyphPairs.end(),
                                   [&](const GlyphPair& p) { return p.find == static_cast<char32_t>(c); });
    return pair == glyphPairs.end() ? nullptr : &*pair;
}

void replaceGlyphs(UnicodeString& text) {
    const std::int32_t length = text.length();
    const char16_t* units = text.getBuffer();
    std::int32_t first = 0;
    while (first < length) {
        std::int32_t next = first;
        UChar32 c = 0;
        U16_NEXT(units, next, length, c);
        if (glyphPair(c) != nullptr) {
            break;
        }
        first = next;
    }
    if (first == length) {
        return;
    }
    UnicodeString replaced(text, 0, first);
    for (std::int32_t at = first; at < length;) {
        UChar32 c = 0;
        U16_NEXT(units, at, length, c);
        if (const GlyphPair* pair = glyphPair(c)) {
            replaced.append(alias(pair->replacement));
        } else {
            replaced.append(c);
        }
    }
    text = std::move(replaced);
}

void makeCanonical(UnicodeString& text) {
    dropInvisiblesAndSpaceOut(text);
    composeNFC(text);
    replaceGlyphs(text);
}

// Replaces every occurrence of `find`, scanning from the start, matches not overlapping. The
// result is built afresh rather than by replacing in place, which would move the rest of the
// text once for every match.
void replaceAll(UnicodeString& text, std::u16string_view find, std::u16string_view replacement) {
    const UnicodeString pattern = alias(find);
    std::int32_t at = text.indexOf(pattern);
    if (at < 0) {
        return;
    }
    UnicodeString result;
    std::int32_t rest = 0;
    for (; at >= 0; at = text.indexOf(pattern, rest)) {
        result.append(text, rest, at - rest).append(alias(replacement));
        rest = at + pattern.length();
    }
    result.append(text, rest, text.length() - rest);
    text = std::move(result);
}

// The regular-expression replacement of "symbol(a|b|…)" by "before$1after": at each `symbol`,
// the first of `alternatives`, in the order given, that follows it is taken, so with 13 listed
// before 1 a "13" is never split.
void replaceFollowedBy(UnicodeString& text, char16_t symbol, std::initializer_list<std::u16string_view> alternatives,
                       std::u16string_view before, std::u16string_view after) {
    std::int32_t at = text.indexOf(symbol);
    if (at < 0) {
        return;
    }
    const std::u16string_view units = view(text);
    UnicodeString result;
    std::int32_t rest = 0;
    for (; at >= 0; at = text.indexOf(symbol, at + 1)) {
        const std::u16string_view following = units.substr(static_cast<std::size_t>(at) + 1);
        const auto alternative = std::find_if(alternatives.begin(), alternatives.end(),
                                              [&](std::u16string_view a) { return following.starts_with(a); });
        if (alternative == alternatives.end()) {
            continue;
        }
        result.append(text, rest, at - rest).append(alias(before)).append(alias(*alternative)).append(alias(after));
        rest = at + 1 + static_cast<std::int32_t>(alternative->size());
        at = rest - 1;
    }
    result.append(text, rest, text.length() - rest);
    text = std::move(result);
}

void rewriteChordSymbols(UnicodeString& text) {
    replaceFollowedBy(text, u'\u0394', {u"13", u"11", u"9"}, u"maj", u"");          // Δ(13|11|9) → maj$1
    replaceAll(text, u"\u03947", u"maj7");                                          // Δ7
    replaceAll(text, u"\u0394", u"maj7");                                           // Δ
    replaceFollowedBy(text, u'\u00F8', {u"13", u"11", u"9", u"7"}, u"m", u"(b5)"); // ø(13|11|9|7) → m$1(b5)
    replaceAll(text, u"\u00F8", u"m7(b5)");                                         // ø
    replaceAll(text, u"\u00B0", u"dim");                                            // °
}

void trimWhitespaceAndNewlines(UnicodeString& text) {
    const char16_t* units = text.getBuffer();
    std::int32_t start = 0;
    std::int32_t end = text.length();
    while (start < end) {
        std::int32_t next = start;
        UChar32 c = 0;
        U16_NEXT(units, next, end, c);
        if (!detail::isWhitespaceOrNewline(static_cast<char32_t>(c))) {
            break;
        }
        start = next;
    }
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c = 0;
        U16_PREV(units, start, previous, c);
        if (!detail::isWhitespaceOrNewline(static_cast<char32_t>(c))) {
            break;
        }
        end = previous;
    }
    text.retainBetween(start, end);
}

void makeTitle(UnicodeString& text) {
    makeCanonical(text);
    rewriteChordSymbols(text);
    replaceAll(text, u"\"", u"'");
    trimWhitespaceAndNewlines(text);
}

icu::BreakIterator* characterBreaks() {
    // A break iterator holds the state of one walk, so each thread keeps its own.
    thread_local const std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    return iterator.get();
}

// Where the title of a token closes: the index of the first lone U+0022 after a lone U+0022 that
// opens the text, or -1 when there is no title. "Lone" is by user-perceived character: a
// quotation mark that carries a combining mark is part of a larger character.
std::int32_t closingQuote(const UnicodeString& text) {
    if (text.isEmpty() || text[0] != u'"') {
        return -1;
    }
    icu::BreakIterator* characters = characterBreaks();
    if (characters == nullptr) {
        return -1;
    }
    // The iterator keeps referring to `text` after this returns; every use sets its text first.
    characters->setText(text);
    characters->first();
    std::int32_t start = characters->next();
    if (start != 1) {
        return -1;
    }
    for (std::int32_t end = characters->next(); end != icu::BreakIterator::DONE; end = characters->next()) {
        if (end - start == 1 && text[start] == u'"') {
            return start;
        }
        start = end;
    }
    return -1;
}

} // namespace

std::string token(std::string_view text) {
    UnicodeString canonical = fromUTF8(text);
    makeCanonical(canonical);
    const std::int32_t closing = closingQuote(canonical);
    if (closing < 0) {
        return toUTF8(canonical);
    }
    UnicodeString inner(canonical, 1, closing - 1);
    makeTitle(inner);
    UnicodeString result(u'"');
    result.append(inner).append(u'"').append(canonical, closing + 1, canonical.length() - closing - 1);
    return toUTF8(result);
}

std::string title(std::string_view text) {
    UnicodeString result = fromUTF8(text);
    makeTitle(result);
    return toUTF8(result);
}

namespace detail {

std::string canonical(std::string_view text) {
    UnicodeString result = fromUTF8(text);
    makeCanonical(result);
    return toUTF8(result);
}

std::string chordText(std::string_view text) {
    UnicodeString result = fromUTF8(text);
    rewriteChordSymbols(result);
    return toUTF8(result);
}

bool isWhitespaceOrNewline(char32_t codePoint) {
    if (codePoint < 0x80) {
        return (codePoint >= 0x09 && codePoint <= 0x0D) || codePoint == 0x20;
    }
    if (codePoint == 0x85) {
        return true;
    }
    if (codePoint > 0x10FFFF) {
        return false;
    }
    const auto category = static_cast<UCharCategory>(u_charType(static_cast<UChar32>(codePoint)));
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR || category == U_PARAGRAPH_SEPARATOR;
}

bool isRemoved(char32_t codePoint) {
    return std::find(removalSet.begin(), removalSet.end(), codePoint) != removalSet.end();
}

} // namespace detail

} // namespace quenlitor::TokenTextNormalizer
