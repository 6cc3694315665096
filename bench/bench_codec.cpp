// Throughput of parsefur on the two kinds of input a receiver sees: noise between frames and a
// stream of full-size program frames. Each iteration consumes the whole buffer the way a
// receiver does (parse, drop what is returned, repeat).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/fur_codec.h"

namespace {

constexpr size_t kNoiseBytes = 64u << 20;
constexpr size_t kFramePayload = 2054;  // the largest frames the jobs send
constexpr size_t kFrameStreamBytes = 16u << 20;

// Random bytes with no F1 D9 pair, so the scan never stops at a sync.
std::vector<uint8_t> MakeNoise() {
    std::vector<uint8_t> noise(kNoiseBytes);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < noise.size(); i += 8) {
        uint64_t word = rng();
        for (size_t k = 0; k < 8 && i + k < noise.size(); ++k) {
            noise[i + k] = static_cast<uint8_t>(word >> (8 * k));
        }
    }
    for (size_t i = 1; i < noise.size(); ++i) {
        if (noise[i - 1] == kFurSync0 && noise[i] == kFurSync1) noise[i] = 0;
    }
    return noise;
}

std::vector<uint8_t> MakeFrameStream() {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> data(kFramePayload - sizeof(FUR_PACKET_BOOT2_FWPG));
    std::mt19937 rng(2);
    for (uint16_t index = 0; stream.size() < kFrameStreamBytes; ++index) {
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        auto frame = MakeFwpgFrame(0xC0000000u + index * 2048u, index, data);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// Returns the number of decoded frames so the work cannot be optimised away.
size_t ConsumeAll(const std::vector<uint8_t>& buffer) {
    size_t pos = 0;
    size_t frames = 0;
    while (pos < buffer.size()) {
        FUR_DATA result{};
        size_t left = buffer.size() - pos;
        uint32_t used =
            parsefur(buffer.data() + pos,
                     static_cast<uint32_t>(left > UINT32_MAX ? UINT32_MAX : left), &result);
        if (used == 0) break;
        frames += result.status == PARSE_OK;
        pos += used;
    }
    return frames;
}

void BM_ParseNoise(benchmark::State& state) {
    static const std::vector<uint8_t> noise = MakeNoise();
    for (auto _ : state) benchmark::DoNotOptimize(ConsumeAll(noise));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(noise.size()));
}
BENCHMARK(BM_ParseNoise)->Unit(benchmark::kMillisecond);

void BM_ParseFrames(benchmark::State& state) {
    static const std::vector<uint8_t> stream = MakeFrameStream();
    size_t frames = 0;
    for (auto _ : state) {
        frames = ConsumeAll(stream);
        benchmark::DoNotOptimize(frames);
    }
    if (frames * (kFramePayload + kFurOverhead) != stream.size()) {
        state.SkipWithError("not every frame decoded");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.size()));
    state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(BM_ParseFrames)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
