// YMODEM block checksum throughput: the CRC over one 1,024-byte block (the sender's unit) and
// over a 1 MiB run, so a slower bitwise loop shows up against the link's pace.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "transfer/ymodem.h"

namespace {

std::vector<uint8_t> RandomBytes(std::size_t n) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

void BM_CalcrcBlock(benchmark::State& state) {
    const auto size = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> data = RandomBytes(static_cast<std::size_t>(size));
    for (auto _ : state) {
        benchmark::DoNotOptimize(transfer::Ymodem::calcrc(data.data(), size));
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_CalcrcBlock)->Arg(128)->Arg(1024)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
