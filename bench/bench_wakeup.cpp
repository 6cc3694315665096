// How fast a reader blocked in ReadByte wakes when another thread writes: two receive buffers
// and two threads bounce one byte back and forth, so one iteration is two wake-ups. With one
// frame in flight this latency, not the copy speed, paces a flash write or a point import.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "transport/fifo_stream.h"

namespace {

void BM_ReadByteWakeRoundTrip(benchmark::State& state) {
    FIFOStream toEcho(4096, ReceiverBrand::HD);
    FIFOStream fromEcho(4096, ReceiverBrand::HD);
    toEcho.ReadTimeout(5000);
    fromEcho.ReadTimeout(5000);
    std::thread echo([&] {
        for (;;) {
            const int32_t b = toEcho.ReadByte();
            if (b < 0) return;
            const auto value = static_cast<uint8_t>(b);
            fromEcho.Write(&value, 0, 1);
            if (value == 0xFF) return;
        }
    });
    const uint8_t ping = 0x01;
    for (auto _ : state) {
        toEcho.Write(&ping, 0, 1);
        benchmark::DoNotOptimize(fromEcho.ReadByte());
    }
    const uint8_t stop = 0xFF;
    toEcho.Write(&stop, 0, 1);
    echo.join();
    state.counters["wake_us"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadByteWakeRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same through WaitForData + Read, the path of the acknowledgement and reply waits.
void BM_WaitForDataWakeRoundTrip(benchmark::State& state) {
    FIFOStream toEcho(4096, ReceiverBrand::HD);
    FIFOStream fromEcho(4096, ReceiverBrand::HD);
    std::atomic<bool> run{true};
    auto take = [](FIFOStream& f, const std::atomic<bool>& going) -> int32_t {
        uint8_t b = 0;
        while (going.load()) {
            if (f.Read(&b, 0, 1) == 1) return b;
            f.WaitForData(20);
        }
        return -1;
    };
    std::thread echo([&] {
        for (;;) {
            const int32_t b = take(toEcho, run);
            if (b < 0 || b == 0xFF) return;
            const auto value = static_cast<uint8_t>(b);
            fromEcho.Write(&value, 0, 1);
        }
    });
    const uint8_t ping = 0x01;
    const std::atomic<bool> always{true};
    for (auto _ : state) {
        toEcho.Write(&ping, 0, 1);
        benchmark::DoNotOptimize(take(fromEcho, always));
    }
    const uint8_t stop = 0xFF;
    toEcho.Write(&stop, 0, 1);
    run = false;
    echo.join();
    state.counters["wake_us"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WaitForDataWakeRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
