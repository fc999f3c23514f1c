// Decoder throughput against a reference loop that only reads each byte and switches on it,
// both over the same seeded synthetic stream, so the ratio holds on any machine.
#include "MIDIStream.hpp"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using quenlitor::MIDIMessage;
using quenlitor::MIDIStreamDecoder;

// About 4 MiB of what a keyboard sends: mostly running-status notes, some control changes,
// sysex and real-time bytes.
const std::vector<std::uint8_t>& syntheticStream() {
    static const std::vector<std::uint8_t> stream = [] {
        std::mt19937 engine(2026);
        auto random = [&] { return static_cast<unsigned>(engine()); };
        std::vector<std::uint8_t> bytes;
        bytes.reserve(4u << 20);
        auto data = [&] { return static_cast<std::uint8_t>(random() % 128); };
        while (bytes.size() < (4u << 20)) {
            const unsigned pick = random() % 100;
            if (pick < 80) {
                if (random() % 8 == 0) {
                    bytes.push_back(static_cast<std::uint8_t>(0x90 | (random() % 16)));
                }
                bytes.push_back(data());
                bytes.push_back(random() % 3 == 0 ? 0 : data());
            } else if (pick < 90) {
                bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xB0 | (random() % 16)), data(), data()});
            } else if (pick < 95) {
                bytes.push_back(0xF8);
            } else if (pick < 97) {
                bytes.push_back(0xF0);
                for (unsigned i = random() % 32; i > 0; --i) {
                    bytes.push_back(data());
                }
                bytes.push_back(0xF7);
            } else {
                bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xE0 | (random() % 16)), data(), data()});
            }
        }
        return bytes;
    }();
    return stream;
}

void ReferenceByteSwitch(benchmark::State& state) {
    const auto& stream = syntheticStream();
    for (auto _ : state) {
        // The least a byte-stream parser can do: read each byte and branch on its class (data,
        // channel status, system common, real time). The empty asm keeps the compiler from
        // turning the branches into vectorised counting.
        std::size_t data = 0, status = 0, common = 0, realTime = 0;
        for (std::uint8_t b : stream) {
            benchmark::DoNotOptimize(b);
            if (b < 0x80) {
                ++data;
            } else if (b < 0xF0) {
                ++status;
            } else if (b < 0xF8) {
                ++common;
            } else {
                ++realTime;
            }
        }
        benchmark::DoNotOptimize(data + status + common + realTime);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(ReferenceByteSwitch);

void Decoder(benchmark::State& state) {
    const auto& stream = syntheticStream();
    std::vector<MIDIMessage> messages;
    messages.reserve(stream.size() / 2);
    for (auto _ : state) {
        MIDIStreamDecoder decoder;
        messages.clear();
        decoder.decode(stream, messages);
        benchmark::DoNotOptimize(messages.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["messages"] = static_cast<double>(messages.size());
}
BENCHMARK(Decoder);

// Packets as the MIDI thread hands them over: a few bytes per call, one fresh vector each.
void DecoderPerPacket(benchmark::State& state) {
    const auto& stream = syntheticStream();
    for (auto _ : state) {
        MIDIStreamDecoder decoder;
        for (std::size_t at = 0; at < stream.size(); at += 3) {
            const auto packet = std::span(stream).subspan(at, std::min<std::size_t>(3, stream.size() - at));
            benchmark::DoNotOptimize(decoder.decode(packet));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(DecoderPerPacket);

} // namespace
