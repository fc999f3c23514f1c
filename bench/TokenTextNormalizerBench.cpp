// `title` and `token` on the texts the application passes them, each beside a reference that
// copies the same text and replaces its double quotes with std::replace, so the ratio holds on
// any machine.
#include "TokenTextNormalizer.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

namespace {

namespace normalizer = quenlitor::TokenTextNormalizer;

void Reference(benchmark::State& state, const char* text) {
    const std::string input(text);
    for (auto _ : state) {
        std::string copy = input;
        std::replace(copy.begin(), copy.end(), '"', '\'');
        benchmark::DoNotOptimize(copy.data());
    }
}

void Title(benchmark::State& state, const char* text) {
    const std::string input(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(normalizer::title(input));
    }
}

void Token(benchmark::State& state, const char* text) {
    const std::string input(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(normalizer::token(input));
    }
}

// The token as the capture controller copies it: ASCII notes opened by a title already rewritten.
#define ASCII_TOKEN "\"Cmaj7\" C4 E G B ."
// A token whose title still has its symbol.
#define SYMBOL_TOKEN "\"C\u0394" "7\" C4 E G B ."
// Without a title.
#define NOTES_TOKEN "C4 E G B D5 ."
#define ASCII_TITLE "Cmaj7"
// Symbols of all three qualities, a flat sign and typographic quotes.
#define SYMBOL_TITLE "\u201CB\u00F8" "7 C\u00B0 E\u266D\u0394\u201D"

BENCHMARK_CAPTURE(Reference, asciiToken, ASCII_TOKEN);
BENCHMARK_CAPTURE(Token, asciiToken, ASCII_TOKEN);
BENCHMARK_CAPTURE(Reference, symbolToken, SYMBOL_TOKEN);
BENCHMARK_CAPTURE(Token, symbolToken, SYMBOL_TOKEN);
BENCHMARK_CAPTURE(Reference, notesToken, NOTES_TOKEN);
BENCHMARK_CAPTURE(Token, notesToken, NOTES_TOKEN);
BENCHMARK_CAPTURE(Reference, asciiTitle, ASCII_TITLE);
BENCHMARK_CAPTURE(Title, asciiTitle, ASCII_TITLE);
BENCHMARK_CAPTURE(Reference, symbolTitle, SYMBOL_TITLE);
BENCHMARK_CAPTURE(Title, symbolTitle, SYMBOL_TITLE);

} // namespace
