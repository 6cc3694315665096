// What the session log adds where the bytes pass: one received 200-byte chunk (a point record's
// reply) handed to the log, on the thread that moves the bytes, with the log's writer thread
// formatting and writing behind it. A 4,096-record import hands it about 12,300 events.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "diag/session_log.h"

namespace {

void BM_ReceivedChunk(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "caddora-bench-session.log";
    {
        diag::SessionLog log(path.string(), nullptr, nullptr);
        std::vector<uint8_t> chunk(200, 0x5A);
        chunk[0] = 0xF1;
        chunk[1] = 0xD9;
        for (auto _ : state) log.Received(chunk.data(), static_cast<int32_t>(chunk.size()));
        log.Exit(0);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReceivedChunk);

// The same with no log at all: what the stream pays for asking whether there is one.
void BM_NoLog(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(diag::CurrentSessionLog());
}
BENCHMARK(BM_NoLog);

}  // namespace

BENCHMARK_MAIN();
