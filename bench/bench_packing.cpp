// Packing and unpacking a 10 MiB firmware, MD5 and gzip inflation rates, and the peak memory an
// unpack holds (counted by operator new) against the size it unpacks.
// The counting operator new/delete below pair malloc with free; gcc's inliner cannot see that
// and reports a mismatch wherever a container frees what it allocated.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/byte_stream.h"
#include "transfer/gzip_stream.h"
#include "transfer/gzip_writer.h"
#include "transfer/md5.h"
#include "transfer/packed_file.h"
#include "transfer/packing.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void StartCounting() {
    g_live = 0;
    g_peak = 0;
    g_counting = true;
}
int64_t StopCounting() {
    g_counting = false;
    return g_peak.load();
}

constexpr size_t kFirmwareSize = 10u << 20;

// Firmware-like: runs of code-ish random bytes mixed with erased 0xFF areas and tables.
std::vector<uint8_t> MakeFirmware() {
    std::mt19937 rng(1234);
    std::vector<uint8_t> fw(kFirmwareSize);
    for (size_t i = 0; i < fw.size(); ++i) {
        const size_t block = i / 4096;
        if (block % 5 == 4)
            fw[i] = 0xFF;
        else if (block % 5 == 3)
            fw[i] = static_cast<uint8_t>(i & 0x3F);
        else
            fw[i] = static_cast<uint8_t>(rng() & 0x7F);
    }
    return fw;
}

struct Files {
    std::filesystem::path dir;
    std::string firmware;
    std::string packed;
    std::vector<uint8_t> data;
    Files() {
        dir =
            std::filesystem::temp_directory_path() / ("caddora-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        firmware = (dir / "fw.bin").string();
        packed = (dir / "fw.ckfm").string();
        data = MakeFirmware();
        std::ofstream(firmware, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
        transfer::boot_block h;
        h.bootCodeOffset = 0x400;
        h.referenceClock = 26000000;
        transfer::GZipOperations().GZipPacketCompress(firmware, packed, std::vector<uint8_t>{2}, h);
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Files& Shared() {
    static Files files;
    return files;
}

long MaxRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void BM_PackFirmware(benchmark::State& state) {
    Files& f = Shared();
    transfer::boot_block h;
    h.bootCodeOffset = 0x400;
    h.referenceClock = 26000000;
    const std::string out = (f.dir / "out.ckfm").string();
    const std::vector<uint8_t> sub = {2, 0, 0, 0, 0, 0, 0, 0};
    int64_t peak = 0;
    for (auto _ : state) {
        StartCounting();
        bool ok = transfer::GZipOperations().GZipPacketCompress(f.firmware, out, sub, h);
        peak = std::max(peak, StopCounting());
        if (!ok) state.SkipWithError("packing failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFirmwareSize));
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
    state.counters["packed_MiB"] = static_cast<double>(std::filesystem::file_size(out)) / (1 << 20);
}
BENCHMARK(BM_PackFirmware)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UnpackFirmware(benchmark::State& state) {
    Files& f = Shared();
    const long rssBefore = MaxRssKiB();
    int64_t peak = 0;
    size_t payload = 0;
    for (auto _ : state) {
        StartCounting();
        auto packed =
            transfer::ReadPackedFile(f.packed, transfer::PackedFileRules::FirmwareByFrames());
        payload = packed.content.payload.size();
        peak = std::max(peak, StopCounting());
        if (!packed.ok()) state.SkipWithError("unpacking failed");
        benchmark::DoNotOptimize(packed);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(payload));
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
    state.counters["peak_per_payload"] = static_cast<double>(peak) / static_cast<double>(payload);
    state.counters["maxrss_growth_MiB"] = static_cast<double>(MaxRssKiB() - rssBefore) / 1024;
}
BENCHMARK(BM_UnpackFirmware)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Md5(benchmark::State& state) {
    const auto& data = Shared().data;
    for (auto _ : state) benchmark::DoNotOptimize(transfer::Md5(data));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Md5)->Unit(benchmark::kMillisecond);

void BM_GzipInflate(benchmark::State& state) {
    const auto& data = Shared().data;
    // Compress once into memory through a temporary file.
    static std::vector<uint8_t> gz = [&] {
        std::FILE* tmp = std::tmpfile();
        {
            transfer::GZipWriter w(tmp);
            w.Write(data);
            w.Finish();
        }
        std::vector<uint8_t> out(static_cast<size_t>(std::ftell(tmp)));
        std::rewind(tmp);
        size_t got = std::fread(out.data(), 1, out.size(), tmp);
        out.resize(got);
        std::fclose(tmp);
        return out;
    }();
    std::vector<uint8_t> buffer(1 << 20);
    for (auto _ : state) {
        platform::MemoryStream source(gz);
        transfer::GZipInputStream gzip(source);
        int64_t total = 0;
        while (int32_t n = gzip.Read(buffer.data(), 0, static_cast<int32_t>(buffer.size())))
            total += n;
        if (total != static_cast<int64_t>(data.size())) state.SkipWithError("size mismatch");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_GzipInflate)->Unit(benchmark::kMillisecond);

}  // namespace

// Counting allocator for the peak figures.
void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    if (g_counting.load(std::memory_order_relaxed)) {
        int64_t live = g_live += static_cast<int64_t>(malloc_usable_size(p));
        int64_t peak = g_peak.load();
        while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
        }
    }
    return p;
}
void operator delete(void* p) noexcept {
    if (p && g_counting.load(std::memory_order_relaxed))
        g_live -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}

BENCHMARK_MAIN();
