// analyze never fails on any note list, with the shipped dictionary or with a small dictionary
// built from the input, and its result keeps its promises: at most four alternatives, all
// different and none equal to the principal name, intervals holding 0 whenever a chord is named,
// the bass the lowest note, and nothing changed by the order of the notes.
#include "FuzzSupport.hpp"
#include "ChordRecognizer.hpp"
#include "support/ShippedDictionary.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

using namespace quenlitor;
using quenlitor::fuzz::check;
using quenlitor::fuzz::Bytes;

namespace {

const ChordRecognizer& shipped() { return *quenlitor::support::shippedRecognizer(); }

std::vector<std::ptrdiff_t> members(std::uint16_t mask) {
    std::vector<std::ptrdiff_t> values;
    for (int interval = 0; interval < 12; ++interval) {
        if ((mask >> interval & 1) != 0) {
            values.push_back(interval);
        }
    }
    return values;
}

// Up to 16 entries whose names repeat, are equivalent or spell other names, some custom.
std::shared_ptr<const ChordRecognizer> dictionaryFrom(Bytes& bytes) {
    static const char* const names[] = {"", "m", "7", "\u00e9", "e\u0301", "#", "#m", "b", "7/E", "/C", "Δ", "\u0327"};
    std::vector<ChordPattern> patterns;
    for (int count = 1 + bytes.next() % 16; count > 0; --count) {
        const std::uint8_t kind = bytes.next();
        patterns.emplace_back(names[kind % std::size(names)], members(bytes.twelveBits()), members(bytes.twelveBits()),
                              (kind & 0x80) != 0);
    }
    std::string json = R"({"chords":[)";
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        json += (i > 0 ? "," : "") + patterns[i].toJSON();
    }
    return ChordRecognizer::create(json + "]}");
}

void checkAnalysis(const ChordRecognizer& recognizer, const std::vector<std::ptrdiff_t>& notes) {
    const ChordAnalysis analysis = recognizer.analyze(notes);

    std::vector<std::ptrdiff_t> reversed(notes.rbegin(), notes.rend());
    check(recognizer.analyze(reversed) == analysis);

    check(analysis.alternatives.size() <= 4);
    for (std::size_t i = 0; i < analysis.alternatives.size(); ++i) {
        check(analysis.alternatives[i] != analysis.principal);
        check(std::count(analysis.alternatives.begin(), analysis.alternatives.end(), analysis.alternatives[i]) == 1);
    }
    if (analysis.principal.empty()) {
        check(analysis == ChordAnalysis::empty());
        return;
    }
    check(analysis.intervals.contains(0));
    check(analysis.rootPitchClass && *analysis.rootPitchClass >= 0 && *analysis.rootPitchClass < 12);
    const std::ptrdiff_t lowest = *std::min_element(notes.begin(), notes.end());
    check(analysis.bassPitchClass == ChordRecognizer::pitchClass(lowest));
    PitchClassSet intervals;
    for (const std::ptrdiff_t note : notes) {
        const int interval = (ChordRecognizer::pitchClass(note) - *analysis.rootPitchClass + 12) % 12;
        intervals = PitchClassSet::fromMask(intervals.mask() | 1u << interval);
    }
    check(analysis.intervals == intervals);
    const auto& patterns = recognizer.chordPatterns();
    check(std::any_of(patterns.begin(), patterns.end(),
                      [&](const ChordPattern& p) { return p.name() == analysis.quality; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, size);
    const std::uint8_t mode = bytes.next();
    const auto own = (mode & 1) != 0 ? dictionaryFrom(bytes) : nullptr;
    std::vector<std::ptrdiff_t> notes;
    while (!bytes.empty() && notes.size() < 64) {
        // Mostly keyboard notes, sometimes any 64-bit number.
        notes.push_back((mode & 2) != 0 && bytes.next() % 4 == 0 ? bytes.integer() : bytes.next());
    }
    checkAnalysis(own ? *own : shipped(), notes);
    return 0;
}
