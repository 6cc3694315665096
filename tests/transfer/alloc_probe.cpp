#include "alloc_probe.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace alloc_probe {
namespace {
std::atomic<bool> g_on{false};
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void* Allocate(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (p && g_on.load(std::memory_order_relaxed)) {
        int64_t live = g_live += static_cast<int64_t>(malloc_usable_size(p));
        int64_t peak = g_peak.load();
        while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
        }
    }
    return p;
}

void Release(void* p) {
    if (!p) return;
    if (g_on.load(std::memory_order_relaxed)) g_live -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

void Start() {
    g_live = 0;
    g_peak = 0;
    g_on = true;
}

int64_t Stop() {
    g_on = false;
    return g_peak.load();
}

void* AllocateOrThrow(std::size_t n) {
    void* p = Allocate(n);
    if (!p) throw std::bad_alloc();
    return p;
}
void ReleaseFromDelete(void* p) {
    Release(p);
}
void* AllocateNoThrow(std::size_t n) {
    return Allocate(n);
}

}  // namespace alloc_probe

void* operator new(std::size_t n) {
    return alloc_probe::AllocateOrThrow(n);
}
void* operator new[](std::size_t n) {
    return alloc_probe::AllocateOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return alloc_probe::AllocateNoThrow(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return alloc_probe::AllocateNoThrow(n);
}
void operator delete(void* p) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
void operator delete[](void* p) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    alloc_probe::ReleaseFromDelete(p);
}
