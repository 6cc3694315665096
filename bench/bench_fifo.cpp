// Receive buffer throughput: 2,048-byte chunks (the USB read size) written and read back, on one
// thread and across a writer and a reader thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "transport/fifo_stream.h"

namespace {

constexpr int32_t kCapacity = 65536;
constexpr int32_t kChunk = 2048;

void BM_WriteReadSameThread(benchmark::State& state) {
    FIFOStream f(kCapacity, ReceiverBrand::HD);
    std::vector<uint8_t> in(kChunk, 0x5A);
    std::vector<uint8_t> out(kChunk);
    for (auto _ : state) {
        f.Write(in.data(), 0, kChunk);
        benchmark::DoNotOptimize(f.Read(out.data(), 0, kChunk));
    }
    state.SetBytesProcessed(state.iterations() * kChunk);
}
BENCHMARK(BM_WriteReadSameThread);

// A writer thread keeps the ring supplied (waiting while less than a chunk is free, as the
// device stream's flow control does); the measured thread reads with WaitForData.
void BM_WriteReadTwoThreads(benchmark::State& state) {
    FIFOStream f(kCapacity, ReceiverBrand::HD);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<uint8_t> in(kChunk, 0xA5);
        while (!stop.load(std::memory_order_relaxed)) {
            if (f.Length() - f.Count() >= kChunk) {
                f.Write(in.data(), 0, kChunk);
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::vector<uint8_t> out(kChunk);
    int64_t bytes = 0;
    for (auto _ : state) {
        int32_t n = f.Read(out.data(), 0, kChunk);
        while (n == 0) {
            f.WaitForData(20);
            n = f.Read(out.data(), 0, kChunk);
        }
        bytes += n;
    }
    stop = true;
    writer.join();
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteReadTwoThreads)->UseRealTime();

// Frames cut by ReadLine: the way the version poll replies are read.
void BM_ReadLineFrames(benchmark::State& state) {
    FIFOStream f(kCapacity, ReceiverBrand::HD);
    std::vector<uint8_t> frame(kChunk + 8, 0);
    frame[0] = 0xF1;
    frame[1] = 0xD9;
    frame[4] = static_cast<uint8_t>(kChunk & 0xFF);
    frame[5] = static_cast<uint8_t>(kChunk >> 8);
    for (auto _ : state) {
        f.Write(frame.data(), 0, static_cast<int32_t>(frame.size()));
        benchmark::DoNotOptimize(f.ReadLine());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_ReadLineFrames);

}  // namespace

BENCHMARK_MAIN();
