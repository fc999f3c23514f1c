// The end of a gesture with the shipped dictionary: `generate` for a four-note chord, and the
// whole path from the bytes of the last note-off to the clipboard write (decoder, session,
// generator, normaliser, in-memory clipboard). The reference, measured in the same run, builds
// the same token text from ready-made note names with plain string appends: the least any token
// writer does. Compare the ratios across machines.
#include "CaptureController.hpp"
#include "ChordRecognizer.hpp"
#include "support/ShippedDictionary.hpp"
#include "platform/memory/MemoryClipboard.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>

namespace {

using namespace quenlitor;

using quenlitor::support::shippedRecognizer;

const std::vector<std::ptrdiff_t> cmaj7{60, 64, 67, 71};

void ReferenceTokenText(benchmark::State& state) {
    const std::array<std::string, 4> words{"C4", "E", "G", "B"};
    for (auto _ : state) {
        std::string text = "\"Cmaj7\" ";
        for (const std::string& word : words) {
            text += word;
            text += ' ';
        }
        text += '.';
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(ReferenceTokenText);

void Generate(benchmark::State& state) {
    const TokenGenerator generator(shippedRecognizer());
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator.generate(cmaj7, true));
    }
}
BENCHMARK(Generate);

// Only the last note-off is timed: the three keys released before it and the four presses are
// played outside the clock, as a keyboard would have sent them earlier.
void LastNoteOffToClipboard(benchmark::State& state) {
    const auto clipboard = std::make_shared<platform::memory::MemoryClipboard>();
    CaptureController controller(TokenGenerator(shippedRecognizer()), clipboard);
    MIDIStreamDecoder decoder;
    std::vector<MIDIMessage> messages;
    const auto feed = [&](std::initializer_list<std::uint8_t> bytes) {
        messages.clear();
        decoder.decode(std::span(bytes.begin(), bytes.size()), messages);
        for (const MIDIMessage& message : messages) {
            controller.receive(message, 1);
        }
    };
    for (auto _ : state) {
        feed({0x90, 60, 100, 0x90, 64, 100, 0x90, 67, 100, 0x90, 71, 100, 0x80, 60, 0, 0x80, 64, 0, 0x80, 67, 0});
        const auto start = std::chrono::steady_clock::now();
        feed({0x80, 71, 0});
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    if (clipboard->text() != "\"Cmaj7\" C4 E G B .") {
        state.SkipWithError("the gesture did not reach the clipboard");
    }
}
BENCHMARK(LastNoteOffToClipboard)->UseManualTime();

} // namespace
