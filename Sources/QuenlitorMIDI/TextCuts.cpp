#include "TextCuts.hpp"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

namespace quenlitor {

namespace {

// The UTF-16 offset just past the first `count` characters, or none when the text is not longer.
std::optional<std::int32_t> cutPoint(const icu::UnicodeString& text, std::size_t count) {
    UErrorCode status = U_ZERO_ERROR;
    thread_local const std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (!characters) {
        return std::nullopt;
    }
    characters->setText(text);
    std::int32_t boundary = characters->first();
    for (std::size_t i = 0; i < count; ++i) {
        boundary = characters->next();
        if (boundary == icu::BreakIterator::DONE) {
            return std::nullopt;
        }
    }
    return boundary < text.length() ? std::optional(boundary) : std::nullopt;
}

// The first `count` characters of `text`, or none when the text is not longer.
std::optional<std::string> prefixIfLonger(std::string_view text, std::size_t count) {
    if (text.size() <= count) {
        return std::nullopt; // no more bytes than characters wanted: nothing to cut
    }
    const auto unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    const auto cut = cutPoint(unicode, count);
    if (!cut) {
        return std::nullopt;
    }
    std::string prefix;
    unicode.tempSubString(0, *cut).toUTF8String(prefix);
    return prefix;
}

} // namespace

std::string firstCharacters(std::string_view text, std::size_t count) {
    return prefixIfLonger(text, count).value_or(std::string(text));
}

bool longerThan(std::string_view text, std::size_t count) { return prefixIfLonger(text, count).has_value(); }

std::string shortened(std::string_view text, std::size_t count) {
    const auto prefix = prefixIfLonger(text, count);
    return prefix ? *prefix + "…" : std::string(text);
}

std::vector<std::string> wrappedLines(std::string_view text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" \n", start), text.size());
        std::string_view word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty()) {
            continue;
        }
        if (const std::string joined = line + " " + std::string(word); !line.empty() && !longerThan(joined, width)) {
            line = joined;
            continue;
        }
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        for (auto piece = prefixIfLonger(word, width); piece; piece = prefixIfLonger(word, width)) {
            lines.push_back(*piece);
            word.remove_prefix(piece->size());
        }
        line = std::string(word);
    }
    if (!line.empty()) {
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace quenlitor
