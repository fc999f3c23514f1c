// Loading any bytes either gives a recognizer or fails with the project's error, never anything
// else. Input that starts with a zero byte instead drives a dictionary written from fuzzed values
// of every right and wrong type: it must load exactly when every value has the right type and
// there is an entry, keeping the values normalised, and fail with the right error otherwise.
#include "FuzzSupport.hpp"
#include "ChordRecognizer.hpp"
#include "platform/Error.hpp"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

using namespace quenlitor;
using quenlitor::fuzz::check;
using quenlitor::fuzz::Bytes;

namespace {

bool wellFormed(const std::vector<int>& intervals) {
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        if (intervals[i] < 0 || intervals[i] > 11 || (i > 0 && intervals[i] <= intervals[i - 1])) {
            return false;
        }
    }
    return true;
}

void checkRecognizer(const ChordRecognizer& recognizer) {
    check(recognizer.patternCount() > 0);
    for (const ChordPattern& pattern : recognizer.chordPatterns()) {
        check(wellFormed(pattern.required()) && wellFormed(pattern.optional()));
        check(!pattern.required().empty() && pattern.required().front() == 0);
        check(ChordPattern::fromJSON(pattern.toJSON()) == pattern);
    }
    const std::vector<std::ptrdiff_t> notes{60, 64, 67, 71, 74};
    for (std::size_t count = 0; count <= notes.size(); ++count) {
        recognizer.analyze(std::span(notes).first(count));
    }
}

// Writes a name from a few kinds of characters, so that escapes and multi-byte characters occur.
std::string nameFrom(Bytes& bytes) {
    static const char* const pieces[] = {"m", "7", "#",    "b",    "(",   ")",       "/",        "Δ",
                                         "ø", "°", "\\\"", "\\\\", "\\/", "\\u00e9", "e\\u0301", " "};
    std::string name;
    for (int count = bytes.next() % 6; count > 0; --count) {
        name += pieces[bytes.next() % std::size(pieces)];
    }
    return name;
}

// One value under a key: the right type (true) or a wrong one (false), or nothing at all.
struct Written {
    std::string json;
    bool rightType;
};

Written intervalsFrom(Bytes& bytes, std::vector<std::ptrdiff_t>& values) {
    switch (bytes.next() % 8) {
    case 0:
        return {"null", true};
    case 1:
        return {"\"0, 4, 7\"", false};
    default:
        break;
    }
    std::string json = "[";
    bool rightType = true;
    for (int count = bytes.next() % 6; count > 0; --count) {
        json += json.size() > 1 ? ", " : "";
        const std::uint8_t kind = bytes.next();
        if (kind % 16 == 0) {
            static const char* const wrong[] = {"\"4\"", "true", "null",  "0.5", "[7]", "{}", "1e30", "18446744073709551615",
                                                "1e400", "-1E999999"};
            json += wrong[bytes.next() % std::size(wrong)];
            rightType = false;
        } else if (kind % 16 == 1) {
            const std::int64_t value = bytes.next() % 24 - 12;
            json += std::to_string(value) + ".0";
            values.push_back(value);
        } else {
            const std::int64_t value =
                kind % 2 == 0 ? bytes.integer() : static_cast<std::int64_t>(bytes.next() % 40) - 20;
            json += std::to_string(value);
            values.push_back(value);
        }
    }
    return {json + "]", rightType};
}

void structured(Bytes& bytes) {
    std::string json = bytes.next() % 4 == 0 ? R"({"version": [1, {"x": null}], "chords": [)" : R"({"chords": [)";
    std::vector<ChordPattern> expected;
    bool rightTypes = true;
    for (int count = bytes.next() % 6; count > 0; --count) {
        json += expected.empty() ? "{" : ", {";
        std::string name;
        std::vector<std::ptrdiff_t> required;
        std::vector<std::ptrdiff_t> optional;
        bool isCustom = false;
        std::string separator;
        const std::uint8_t keys = bytes.next();
        const auto key = [&](const char* label, const std::string& value) {
            json += separator + "\"" + label + "\": " + value;
            separator = ", ";
        };
        if ((keys & 1) != 0) {
            const std::uint8_t kind = bytes.next() % 8;
            name = kind == 0 ? "" : nameFrom(bytes);
            key("nombre", kind == 0 ? "null" : kind == 1 ? "7" : "\"" + name + "\"");
            rightTypes = rightTypes && kind != 1;
        }
        if ((keys & 2) != 0) {
            const Written written = intervalsFrom(bytes, required);
            key("obligatorias", written.json);
            rightTypes = rightTypes && written.rightType;
        }
        if ((keys & 4) != 0) {
            const Written written = intervalsFrom(bytes, optional);
            key("opcionales", written.json);
            rightTypes = rightTypes && written.rightType;
        }
        if ((keys & 8) != 0) {
            const std::uint8_t kind = bytes.next() % 5;
            static const char* const values[] = {"true", "false", "null", "1", "\"true\""};
            key("is_custom", values[kind]);
            isCustom = kind == 0;
            rightTypes = rightTypes && kind < 3;
        }
        if ((keys & 16) != 0) {
            key("nombre_largo", R"({"a": [1, 2.5, "x", null, true]})");
        }
        if ((keys & 32) != 0) {
            // A key the reader ignores still cannot hold a number beyond a double.
            key("extra", "[1e309]");
            rightTypes = false;
        }
        json += "}";
        expected.emplace_back("", required, optional, isCustom);
        // The name as decoded: the escapes of nameFrom read back through a one-entry document.
        if ((keys & 1) != 0 && !name.empty()) {
            expected.back() = ChordPattern(ChordPattern::fromJSON("{\"nombre\": \"" + name + "\"}").name(), required,
                                           optional, isCustom);
        }
    }
    json += "]}";

    try {
        const auto recognizer = ChordRecognizer::create(json);
        check(rightTypes && !expected.empty());
        check(recognizer->chordPatterns() == expected);
        checkRecognizer(*recognizer);
    } catch (const Error& error) {
        if (!rightTypes) {
            check(error.domain() == "JSON");
        } else {
            check(expected.empty() && error.domain() == "QuenlitorMIDI" && error.code() == 1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 0) {
        Bytes bytes(data + 1, size - 1);
        structured(bytes);
        return 0;
    }
    try {
        checkRecognizer(*ChordRecognizer::create(std::span(data, size)));
    } catch (const Error& error) {
        // Empty, a name with control characters, too many values.
        check(error.domain() == "JSON" || (error.domain() == "QuenlitorMIDI" && error.code() >= 1 && error.code() <= 3));
    }
    return 0;
}
