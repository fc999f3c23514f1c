// The hand-over from the MIDI thread to the main thread: 100,000 note-on packets from 16 sources
// delivered on the benchmark's thread through the read callback, and received by onMessage on a
// second thread that drains the main queue as the main loop would. Each run checks that every
// message arrives once and in order per source, and reports messages per second and the median
// delay from delivery to onMessage. The reference runs the same two threads over a bare queue
// (copy the bytes, post, read them back), so the ratio of the two holds on any machine.
//
// Burst: packets as fast as the thread can deliver them (the latency is then mostly queueing).
// Paced: one packet every 20 µs, still far faster than 16 keyboards can play, so the latency is
// the hand-over's own.
#include "MIDIInputService.hpp"

#include "platform/memory/MemoryMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using quenlitor::MIDIInputService;
using quenlitor::MIDIMessage;
using quenlitor::platform::memory::MemoryMainQueue;
using quenlitor::platform::memory::MemoryMIDIPlatform;
using Clock = std::chrono::steady_clock;

constexpr std::size_t sourceCount = 16;
constexpr std::size_t packetCount = 100'000;
constexpr std::uint32_t firstEndpoint = 101;

// Packet k comes from source k % 16 and is that source's (k / 16)-th: a note-on whose note and
// channel spell the sequence number, so the receiver can check the order.
std::array<std::uint8_t, 3> packet(std::size_t k) {
    const std::size_t sequence = k / sourceCount;
    return {static_cast<std::uint8_t>(0x90 | ((sequence / 128) % 16)), static_cast<std::uint8_t>(sequence % 128), 0x40};
}

struct Outcome {
    double seconds = 0;
    std::vector<double> latencies; // microseconds, one per message
    bool inOrder = true;
};

// What the main thread sees, shared by both paths.
class Receiver {
public:
    explicit Receiver(const std::vector<Clock::time_point>& sent) : m_sent(sent) { m_outcome.latencies.reserve(packetCount); }

    void receive(std::size_t source, std::ptrdiff_t note, std::ptrdiff_t channel) {
        const std::size_t sequence = m_next[source]++;
        const auto expected = packet(sequence * sourceCount + source);
        if (note != expected[1] || channel != (expected[0] & 0x0F)) {
            m_outcome.inOrder = false;
        }
        const std::size_t k = sequence * sourceCount + source;
        if (k < packetCount) {
            const std::chrono::duration<double, std::micro> delay = Clock::now() - m_sent[k];
            m_outcome.latencies.push_back(delay.count());
        }
    }
    Outcome& outcome() { return m_outcome; }

private:
    const std::vector<Clock::time_point>& m_sent;
    std::array<std::size_t, sourceCount> m_next{};
    Outcome m_outcome;
};

// Sends every packet with `send` on this thread while another thread drains `queue`.
template <typename Send>
Outcome handOver(MemoryMainQueue& queue, Receiver& receiver, std::chrono::nanoseconds spacing, Send send) {
    std::atomic<bool> done = false;
    std::jthread mainLoop([&] {
        while (!done.load(std::memory_order_acquire)) {
            queue.waitForTask(std::chrono::milliseconds(10));
            queue.runAll();
        }
    });
    const Clock::time_point start = Clock::now();
    Clock::time_point due = start;
    for (std::size_t k = 0; k < packetCount; ++k) {
        if (spacing.count() > 0) {
            due += spacing;
            while (Clock::now() < due) {
            }
        }
        send(k);
    }
    // Tasks run in posting order, so this one runs after every message.
    Clock::time_point end;
    queue.post([&] {
        end = Clock::now();
        done.store(true, std::memory_order_release);
    });
    mainLoop.join();
    Outcome outcome = std::move(receiver.outcome());
    outcome.seconds = std::chrono::duration<double>(end - start).count();
    return outcome;
}

Outcome throughService(std::chrono::nanoseconds spacing) {
    auto platform = std::make_shared<MemoryMIDIPlatform>();
    auto queue = std::make_shared<MemoryMainQueue>();
    std::vector<MemoryMIDIPlatform::Source> sources;
    for (std::uint32_t i = 0; i < sourceCount; ++i) {
        sources.push_back({firstEndpoint + i, "Teclado " + std::to_string(i + 1), {0, static_cast<std::int32_t>(i)}});
    }
    platform->setSources(sources);
    const auto service = MIDIInputService::create(platform, queue, nullptr);
    service->start();

    std::vector<Clock::time_point> sent(packetCount);
    Receiver receiver(sent);
    service->onMessage = [&](const MIDIMessage& message, std::uint32_t source) {
        receiver.receive(source - firstEndpoint, message.note(), message.channel());
    };
    std::vector<std::vector<std::uint8_t>> list(1);
    return handOver(*queue, receiver, spacing, [&](std::size_t k) {
        const auto bytes = packet(k);
        list[0].assign(bytes.begin(), bytes.end());
        sent[k] = Clock::now();
        platform->deliver(firstEndpoint + static_cast<std::uint32_t>(k % sourceCount), list);
    });
}

Outcome throughBareQueue(std::chrono::nanoseconds spacing) {
    MemoryMainQueue queue;
    std::vector<Clock::time_point> sent(packetCount);
    Receiver receiver(sent);
    return handOver(queue, receiver, spacing, [&](std::size_t k) {
        const auto bytes = packet(k);
        sent[k] = Clock::now();
        queue.post([&receiver, source = k % sourceCount, copy = std::vector<std::uint8_t>(bytes.begin(), bytes.end())] {
            receiver.receive(source, copy[1], copy[0] & 0x0F);
        });
    });
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Reports the median over iterations of each run's rate and median latency.
void report(benchmark::State& state, Outcome (*run)(std::chrono::nanoseconds)) {
    const std::chrono::nanoseconds spacing{state.range(0)};
    std::vector<double> rates;
    std::vector<double> latencies;
    for (auto _ : state) {
        const Outcome outcome = run(spacing);
        if (outcome.latencies.size() != packetCount || !outcome.inOrder) {
            state.SkipWithError("messages lost, duplicated or reordered");
            return;
        }
        state.SetIterationTime(outcome.seconds);
        rates.push_back(static_cast<double>(packetCount) / outcome.seconds);
        latencies.push_back(median(outcome.latencies));
    }
    state.counters["messages_per_s"] = median(rates);
    state.counters["median_latency_us"] = median(latencies);
}

void ReferenceBareQueue(benchmark::State& state) { report(state, throughBareQueue); }
void ServiceHandOver(benchmark::State& state) { report(state, throughService); }

// Argument: nanoseconds between packets; 0 is a burst.
BENCHMARK(ReferenceBareQueue)->Arg(0)->Arg(20'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(ServiceHandOver)->Arg(0)->Arg(20'000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
