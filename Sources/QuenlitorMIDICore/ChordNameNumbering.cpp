// The entries' names as analyze compares them, worked out once at load time so that analyze
// compares integers and never calls ICU: each name's place in code point order of the names'
// canonical compositions (a ranking key), and for every entry at every root a number for its
// display name's text, equal for two texts exactly when they are canonically equivalent.
#include "ChordRecognizer.hpp"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace quenlitor {
namespace {

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

// The distinct canonical compositions of the entries' names, in code point order.
class NameOrder {
public:
    explicit NameOrder(const std::vector<ChordPattern>& patterns) {
        m_composed.reserve(patterns.size());
        for (const ChordPattern& pattern : patterns) {
            m_composed.push_back(canonicalComposition(pattern.name()));
        }
        m_distinct = m_composed;
        std::sort(m_distinct.begin(), m_distinct.end());
        m_distinct.erase(std::unique(m_distinct.begin(), m_distinct.end()), m_distinct.end());
        m_order.reserve(m_composed.size());
        for (const std::string& composed : m_composed) {
            m_order.push_back(*find(composed));
        }
    }

    const std::string& composed(std::size_t entry) const { return m_composed[entry]; }
    // The entry's name's place; canonically equivalent names share one.
    std::uint32_t of(std::size_t entry) const { return m_order[entry]; }
    std::size_t distinct() const { return m_distinct.size(); }

    // The place of a text among the composed names, when it is one of them.
    std::optional<std::uint32_t> find(std::string_view composed) const {
        const auto at = std::lower_bound(m_distinct.begin(), m_distinct.end(), composed);
        if (at == m_distinct.end() || *at != composed) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(at - m_distinct.begin());
    }

private:
    std::vector<std::string> m_composed; // by entry
    std::vector<std::string> m_distinct;
    std::vector<std::uint32_t> m_order; // by entry
};

// What a display name's text without bass part is numbered as; when the text itself ends in "/"
// and a note name, like "C7/E", also the number of the text before it and that bass, the way the
// same name with a bass part is told apart.
struct NumberedText {
    std::uint64_t text = 0;
    std::uint64_t beforeBass = 0;
    int bass = -1; // the text does not end in a bass
};

// Numbers for display-name texts, equal exactly when the texts are canonically equivalent. A
// root's name is plain letters and signs that nothing reorders, so root name and composed entry
// name, side by side, stand for the text: it is numbered by the root and the name's place. Only a
// name beginning with "#" or "b" can make two roots spell one text ("C" + "#m" is "C#" + "m").
class TextNumbers {
public:
    explicit TextNumbers(const NameOrder& names) : m_names(names) {}

    // The text of the root's name followed by the entry's. Only a name that may continue the
    // root's name, or that holds a "/", is read as a text; every other is numbered directly.
    NumberedText rooted(std::size_t root, std::size_t entry) {
        const auto& noteNames = ChordRecognizer::detectNoteNames();
        const std::string& name = m_names.composed(entry);
        const bool continuesRoot =
            (name.starts_with('#') || name.starts_with('b')) &&
            std::find(noteNames.begin(), noteNames.end(), noteNames[root] + name.front()) != noteNames.end();
        if (!continuesRoot && name.find('/') == std::string::npos) {
            const std::uint64_t text = root * m_names.distinct() + m_names.of(entry);
            return {text, text, -1};
        }
        const std::string text = noteNames[root] + name;
        const std::uint64_t number = of(text);
        NumberedText numbered{number, number, -1};
        if (const std::size_t slash = text.rfind('/'); slash != std::string::npos) {
            const auto bass = std::find(noteNames.begin(), noteNames.end(), std::string_view(text).substr(slash + 1));
            if (bass != noteNames.end()) {
                numbered.beforeBass = of(text.substr(0, slash));
                numbered.bass = static_cast<int>(bass - noteNames.begin());
            }
        }
        return numbered;
    }

private:
    // Any text, read with the longest root name it begins with; one that is then no root and
    // name gets a number of its own, above all the others.
    std::uint64_t of(const std::string& text) {
        const auto& noteNames = ChordRecognizer::detectNoteNames();
        std::size_t root = noteNames.size();
        for (std::size_t candidate = 0; candidate < noteNames.size(); ++candidate) {
            if (text.starts_with(noteNames[candidate]) &&
                (root == noteNames.size() || noteNames[candidate].size() > noteNames[root].size())) {
                root = candidate;
            }
        }
        if (root < noteNames.size()) {
            if (const auto name = m_names.find(std::string_view(text).substr(noteNames[root].size()))) {
                return root * m_names.distinct() + *name;
            }
        }
        return m_otherTexts.try_emplace(text, 12 * m_names.distinct() + m_otherTexts.size()).first->second;
    }

    const NameOrder& m_names;
    std::unordered_map<std::string, std::uint64_t> m_otherTexts;
};

} // namespace

void ChordRecognizer::numberNames() {
    const NameOrder names(m_chordPatterns);
    TextNumbers numbers(names);
    m_rootedNames.reserve(m_chordPatterns.size() * 12);
    for (std::size_t entry = 0; entry < m_chordPatterns.size(); ++entry) {
        m_entries[entry].nameOrder = names.of(entry);
        for (std::size_t root = 0; root < 12; ++root) {
            const NumberedText numbered = numbers.rooted(root, entry);
            m_rootedNames.push_back(RootedName{numbered.text, DisplayName{numbered.beforeBass, numbered.bass}});
        }
    }
}

} // namespace quenlitor
