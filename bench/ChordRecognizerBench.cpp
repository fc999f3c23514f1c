// Chord analysis and dictionary loading with the shipped dictionary, beside a reference workload
// measured in the same run: the bare fit tests of every entry at every played root over 12-bit
// masks, which is what analyze would cost without its load-time table. Compare the ratios, not
// the times, across machines. The program counts its heap allocations, so that the Analyze
// benchmark can report how many one call makes and whether any goes beyond its result.
#include "ChordRecognizer.hpp"
#include "support/ShippedDictionary.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <set>

namespace {

std::atomic<std::size_t> allocations{0};

} // namespace

// Kept out of line: inlined, GCC would see memory from new handed to free.
[[gnu::noinline]] void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

using quenlitor::ChordRecognizer;
using Notes = std::vector<std::ptrdiff_t>;

using quenlitor::support::readWhole;

const ChordRecognizer& recognizer() { return *quenlitor::support::shippedRecognizer(); }
const std::string& dictionaryText() { return quenlitor::support::shippedDictionaryText(); }

// 10,000 sets of 3 to 6 distinct notes in 36..96: the shared corpus when it is there, otherwise
// sets of the same kind from a fixed seed.
const std::vector<Notes>& corpus() {
    static const std::vector<Notes> sets = [] {
        const std::filesystem::path shared = QUENLITOR_SOURCE_DIR "/../shared/bench/corpus_random.json";
        if (std::filesystem::is_regular_file(shared)) {
            return nlohmann::json::parse(readWhole(shared)).get<std::vector<Notes>>();
        }
        std::mt19937 engine(2026);
        std::vector<Notes> generated;
        for (int i = 0; i < 10000; ++i) {
            std::set<std::ptrdiff_t> notes;
            const auto size = 3 + engine() % 4;
            while (notes.size() < size) {
                notes.insert(36 + static_cast<std::ptrdiff_t>(engine() % 61));
            }
            generated.emplace_back(notes.begin(), notes.end());
        }
        return generated;
    }();
    return sets;
}

void ReferenceFitLoop(benchmark::State& state) {
    struct Entry {
        unsigned required;
        unsigned allowed;
    };
    std::vector<Entry> entries;
    for (const auto& pattern : recognizer().chordPatterns()) {
        Entry entry{0, 0};
        for (const int interval : pattern.required()) {
            entry.required |= 1u << interval;
        }
        entry.allowed = entry.required;
        for (const int interval : pattern.optional()) {
            entry.allowed |= 1u << interval;
        }
        entries.push_back(entry);
    }
    const auto& sets = corpus();
    std::size_t next = 0;
    std::size_t fits = 0;
    for (auto _ : state) {
        const Notes& notes = sets[next];
        next = next + 1 == sets.size() ? 0 : next + 1;
        unsigned played = 0;
        for (const std::ptrdiff_t note : notes) {
            played |= 1u << ChordRecognizer::pitchClass(note);
        }
        for (int root = 0; root < 12; ++root) {
            if ((played & 1u << root) == 0) {
                continue;
            }
            const unsigned intervals = ((played >> root) | (played << (12 - root))) & 0xFFFu;
            for (const Entry& entry : entries) {
                fits += (entry.required & ~intervals) == 0 && (intervals & ~entry.allowed) == 0 ? 1 : 0;
            }
        }
        benchmark::DoNotOptimize(fits);
    }
    state.counters["fits_per_call"] = static_cast<double>(fits) / static_cast<double>(state.iterations());
}
BENCHMARK(ReferenceFitLoop);

void Analyze(benchmark::State& state) {
    const auto& sets = corpus();
    std::size_t next = 0;
    std::size_t named = 0;
    for (auto _ : state) {
        // Not const: Google Benchmark's DoNotOptimize takes a const value only through a
        // deprecated overload, which lets the compiler assume the value unchanged.
        auto analysis = recognizer().analyze(sets[next]);
        named += analysis.principal.empty() ? 0 : 1;
        benchmark::DoNotOptimize(analysis);
        next = next + 1 == sets.size() ? 0 : next + 1;
    }
    state.counters["named_share"] = static_cast<double>(named) / static_cast<double>(state.iterations());

    // Untimed, once over the corpus: the allocations of a call, and those beyond what its result
    // holds (the alternatives' array, and each text too long to be kept inside its string), which
    // should stay at 0.
    const std::size_t inlineCapacity = std::string().capacity();
    std::size_t made = 0;
    std::size_t needed = 0;
    for (const Notes& notes : sets) {
        const std::size_t before = allocations.load(std::memory_order_relaxed);
        const auto analysis = recognizer().analyze(notes);
        made += allocations.load(std::memory_order_relaxed) - before;
        needed += analysis.alternatives.empty() ? 0 : 1;
        needed += analysis.principal.capacity() > inlineCapacity ? 1 : 0;
        needed += analysis.quality.capacity() > inlineCapacity ? 1 : 0;
        for (const std::string& alternative : analysis.alternatives) {
            needed += alternative.capacity() > inlineCapacity ? 1 : 0;
        }
    }
    state.counters["allocations_per_analyze"] = static_cast<double>(made) / static_cast<double>(sets.size());
    state.counters["allocations_beyond_result"] = static_cast<double>(made) - static_cast<double>(needed);
}
BENCHMARK(Analyze);

void LoadDictionary(benchmark::State& state) {
    const std::string& text = dictionaryText();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ChordRecognizer::create(text));
    }
    state.counters["entries"] = static_cast<double>(recognizer().patternCount());
}
BENCHMARK(LoadDictionary)->Unit(benchmark::kMicrosecond);

} // namespace
