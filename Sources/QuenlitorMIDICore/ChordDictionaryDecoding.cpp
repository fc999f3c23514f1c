#include "ChordDictionaryDecoding.hpp"

#include "platform/Error.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quenlitor::dictionary {

namespace {

using Json = nlohmann::json;

// The JSON library's error ids, kept as the codes of the errors.
constexpr long parseErrorCode = 101;
constexpr long wrongTypeCode = 302;
constexpr long notAnObjectCode = 304;
constexpr long missingKeyCode = 403;
constexpr long overflowCode = 406;

// Far beyond any real dictionary (the shipped one holds about 1,500 values), and small enough that
// the document read so far always fits in memory: a file of millions of values is refused while it
// is read, not after.
constexpr std::size_t valueLimit = 1'000'000;

// Where in the document a value sits, as a user reads it: "chords[4].obligatorias[2]".
// Written out only when a failure names it: on the way down each step just points at its parent,
// so a dictionary that loads builds no text for the places it passes.
class Path {
public:
    Path() = default;
    // The parent must outlive the step (the callers keep both on the stack).
    Path member(std::string_view key) const { return Path(this, key, 0); }
    Path element(std::size_t index) const { return Path(this, {}, index); }
    std::string where() const { return m_parent == nullptr ? "la raíz del documento" : text(); }

private:
    Path(const Path* parent, std::string_view key, std::size_t index) : m_parent(parent), m_key(key), m_index(index) {}
    std::string text() const {
        std::string above = m_parent == nullptr || m_parent->m_parent == nullptr ? std::string() : m_parent->text();
        if (m_key.empty()) {
            return above + "[" + std::to_string(m_index) + "]";
        }
        return above + (above.empty() ? "" : ".") + std::string(m_key);
    }

    const Path* m_parent = nullptr;
    std::string_view m_key;
    std::size_t m_index = 0;
};

struct Subject {
    const char* text; // "El diccionario de acordes", "La entrada de acorde"
};

[[noreturn]] void fail(long code, const Subject& subject, const std::string& what) {
    throw Error("JSON", code, std::string(subject.text) + " " + what);
}

[[noreturn]] void wrongType(const Subject& subject, const Path& path) {
    fail(wrongTypeCode, subject, "tiene un valor de tipo incorrecto en " + path.where() + ".");
}

// Line and column (in characters) of the byte at `offset`, both counted from 1.
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const std::size_t lineStart = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
    const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')) + 1;
    // UTF-8 continuation bytes do not start a character.
    const auto characters = static_cast<std::size_t>(std::count_if(
        before.begin() + static_cast<std::ptrdiff_t>(lineStart), before.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    return {line, characters + 1};
}

// Builds the document as the library's own reader does, knowing at every moment where in it the
// value being read sits: a number too large for a double is then refused at its place, wherever
// it is. Every failure of the library's parser arrives here with its position, none as an
// exception; only this reader's own refusals are thrown.
class DocumentReader final : public Json::json_sax_t {
public:
    DocumentReader(std::string_view text, const Subject& subject) : m_text(text), m_subject(subject) {}

    Json take() { return std::move(m_root); }

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t value, const string_t&) override { return add(value); }
    bool string(string_t& value) override { return add(std::move(value)); }
    // JSON text has no binary values; only the library's binary formats do.
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& key) override {
        m_open.back().key = std::move(key);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t position, const std::string&, const Json::exception& error) override {
        if (error.id == overflowCode) {
            fail(overflowCode, m_subject, "tiene un número demasiado grande en " + where() + ".");
        }
        // The library points one past the character it stopped at.
        const auto [line, column] = lineAndColumn(m_text, position > 0 ? position - 1 : 0);
        fail(error.id, m_subject,
             "no es JSON válido (línea " + std::to_string(line) + ", columna " + std::to_string(column) + ").");
    }

private:
    struct Open {
        Json* value;
        std::string key; // in an object, the key of the value being read
    };

    Json& place(Json value) {
        if (++m_values > valueLimit) {
            throw Error("QuenlitorMIDI", 3,
                        std::string(m_subject.text) + " tiene demasiados valores (más de " +
                            std::to_string(valueLimit) + ").");
        }
        if (m_open.empty()) {
            return m_root = std::move(value);
        }
        Json& parent = *m_open.back().value;
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return parent.back();
        }
        // A repeated key keeps its last value, as the library's reader does.
        return parent[m_open.back().key] = std::move(value);
    }
    bool add(Json value) {
        place(std::move(value));
        return true;
    }
    // Pointers stay valid: a container only grows while none of its children is open.
    bool open(Json container) {
        m_open.push_back({&place(std::move(container)), {}});
        return true;
    }
    bool close() {
        m_open.pop_back();
        return true;
    }

    // The place of the value being read, written as Path writes it: "chords[0].extra".
    std::string where() const {
        if (m_open.empty()) {
            return "la raíz del documento";
        }
        std::string text;
        for (std::size_t depth = 0; depth < m_open.size(); ++depth) {
            const Open& open = m_open[depth];
            if (open.value->is_array()) {
                // An open child is already its array's last element; a value being read is not yet in it.
                const bool childOpen = depth + 1 < m_open.size();
                text += "[" + std::to_string(open.value->size() - (childOpen ? 1 : 0)) + "]";
            } else {
                text += (text.empty() ? "" : ".") + open.key;
            }
        }
        return text;
    }

    std::string_view m_text;
    const Subject& m_subject;
    Json m_root;
    std::vector<Open> m_open;
    std::size_t m_values = 0;
};

Json parse(std::string_view text, const Subject& subject) {
    DocumentReader reader(text, subject);
    if (!Json::sax_parse(text.begin(), text.end(), &reader)) {
        fail(parseErrorCode, subject, "no es JSON válido.");
    }
    return reader.take();
}

// The pitch class of one element of an interval array. A number written with a fraction or an
// exponent counts when its value is whole ("7.0", "1e1"), as common JSON decoders read it; a
// fraction, a number beyond 64 bits and any other type fail the whole file.
int pitchClassOf(const Json& value, const Subject& subject, const Path& path) {
    const auto tooLarge = [&] { fail(overflowCode, subject, "tiene un número demasiado grande en " + path.where() + "."); };
    std::int64_t number = 0;
    switch (value.type()) {
    case Json::value_t::number_integer:
        number = value.get<std::int64_t>();
        break;
    case Json::value_t::number_unsigned:
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            tooLarge();
        }
        number = value.get<std::int64_t>();
        break;
    case Json::value_t::number_float: {
        const double real = value.get<double>();
        if (std::trunc(real) != real) {
            fail(wrongTypeCode, subject, "tiene un número que no es entero en " + path.where() + ".");
        }
        if (real < -0x1p63 || real >= 0x1p63) {
            tooLarge();
        }
        number = static_cast<std::int64_t>(real);
        break;
    }
    default:
        wrongType(subject, path);
    }
    return ChordRecognizer::pitchClass(static_cast<std::ptrdiff_t>(number));
}

// A key that is absent or null takes its default.
const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::vector<std::ptrdiff_t> intervalsOf(const Json& object, const char* key, const Subject& subject, const Path& path) {
    const Json* array = member(object, key);
    if (array == nullptr) {
        return {};
    }
    const Path arrayPath = path.member(key);
    if (!array->is_array()) {
        wrongType(subject, arrayPath);
    }
    std::vector<std::ptrdiff_t> values;
    values.reserve(array->size());
    for (std::size_t index = 0; index < array->size(); ++index) {
        values.push_back(pitchClassOf((*array)[index], subject, arrayPath.element(index)));
    }
    return values;
}

// Control characters (C0, DEL, C1) and bidirectional embeddings, overrides and isolates
// (U+202A–U+202E, U+2066–U+2069): no chord name needs them, and pasted into a terminal or an
// editor they can run escape sequences or show a text other than the one copied. The parser has
// checked that the text is UTF-8.
bool holdsControlCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t ahead) {
            return i + ahead < text.size() ? static_cast<unsigned char>(text[i + ahead]) : 0u;
        };
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
        if (byte == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
            return true;
        }
        if (byte == 0xE2 && ((next(1) == 0x80 && next(2) >= 0xAA && next(2) <= 0xAE) ||
                             (next(1) == 0x81 && next(2) >= 0xA6 && next(2) <= 0xA9))) {
            return true;
        }
    }
    return false;
}

ChordPattern entryOf(const Json& object, const Subject& subject, const Path& path) {
    if (!object.is_object()) {
        wrongType(subject, path);
    }
    std::string name;
    if (const Json* value = member(object, "nombre")) {
        if (!value->is_string()) {
            wrongType(subject, path.member("nombre"));
        }
        name = value->get<std::string>();
        if (holdsControlCharacters(name)) {
            throw Error("QuenlitorMIDI", 2,
                        std::string(subject.text) + " tiene caracteres de control en " + path.member("nombre").where() +
                            ".");
        }
    }
    bool isCustom = false;
    if (const Json* value = member(object, "is_custom")) {
        if (!value->is_boolean()) {
            wrongType(subject, path.member("is_custom"));
        }
        isCustom = value->get<bool>();
    }
    return ChordPattern(std::move(name), intervalsOf(object, "obligatorias", subject, path),
                        intervalsOf(object, "opcionales", subject, path), isCustom);
}

} // namespace

std::vector<ChordPattern> decodeDocument(std::span<const std::uint8_t> bytes) {
    const Subject subject{"El diccionario de acordes"};
    const Json document = parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), subject);
    if (!document.is_object()) {
        fail(notAnObjectCode, subject, "no es un objeto JSON con la lista chords.");
    }
    const auto chords = document.find("chords");
    if (chords == document.end()) {
        fail(missingKeyCode, subject, "no tiene la lista chords.");
    }
    const Path root;
    const Path chordsPath = root.member("chords");
    if (!chords->is_array()) {
        wrongType(subject, chordsPath);
    }
    std::vector<ChordPattern> entries;
    entries.reserve(chords->size());
    for (std::size_t index = 0; index < chords->size(); ++index) {
        entries.push_back(entryOf((*chords)[index], subject, chordsPath.element(index)));
    }
    return entries;
}

ChordPattern decodeEntry(std::string_view json) {
    const Subject subject{"La entrada de acorde"};
    return entryOf(parse(json, subject), subject, Path());
}

} // namespace quenlitor::dictionary
