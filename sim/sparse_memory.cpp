#include "sim/sparse_memory.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace sim {

bool SparseMemory::Write(uint32_t address, std::span<const uint8_t> data) {
    const uint64_t begin = address;
    const uint64_t end = begin + data.size();
    if (end > (uint64_t{1} << 32)) return false;
    if (data.empty()) return true;

    // Regions that overlap or touch [begin, end) are absorbed into one.
    auto first = regions_.upper_bound(address);
    if (first != regions_.begin()) {
        auto prev = std::prev(first);
        if (prev->first + uint64_t{prev->second.size()} >= begin) first = prev;
    }
    auto last = first;
    uint64_t mergedBegin = begin;
    uint64_t mergedEnd = end;
    while (last != regions_.end() && last->first <= end) {
        mergedBegin = std::min<uint64_t>(mergedBegin, last->first);
        mergedEnd = std::max<uint64_t>(mergedEnd, last->first + uint64_t{last->second.size()});
        ++last;
    }

    if (first != last && first->first == mergedBegin) {
        // Grow the lowest region in place: sequential writes then cost amortised O(n).
        std::vector<uint8_t>& base = first->second;
        byteCount_ -= base.size();
        base.resize(static_cast<size_t>(mergedEnd - mergedBegin));
        for (auto it = std::next(first); it != last; ++it) {
            std::memcpy(base.data() + (it->first - mergedBegin), it->second.data(),
                        it->second.size());
            byteCount_ -= it->second.size();
        }
        std::memcpy(base.data() + (begin - mergedBegin), data.data(), data.size());
        byteCount_ += base.size();
        regions_.erase(std::next(first), last);
        return true;
    }

    std::vector<uint8_t> merged(static_cast<size_t>(mergedEnd - mergedBegin));
    for (auto it = first; it != last; ++it) {
        std::memcpy(merged.data() + (it->first - mergedBegin), it->second.data(),
                    it->second.size());
        byteCount_ -= it->second.size();
    }
    std::memcpy(merged.data() + (begin - mergedBegin), data.data(), data.size());
    byteCount_ += merged.size();
    regions_.erase(first, last);
    regions_.emplace(static_cast<uint32_t>(mergedBegin), std::move(merged));
    return true;
}

bool SparseMemory::Covers(uint32_t address, uint32_t length) const {
    if (length == 0) return true;
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return false;
    --it;
    // Regions never touch, so the whole range must lie inside this one.
    return uint64_t{it->first} + it->second.size() >= uint64_t{address} + length;
}

std::vector<uint8_t> SparseMemory::Read(uint32_t address, uint32_t length, uint8_t fill) const {
    std::vector<uint8_t> out(length, fill);
    const uint64_t begin = address;
    const uint64_t end = begin + length;
    auto it = regions_.upper_bound(address);
    if (it != regions_.begin()) --it;
    for (; it != regions_.end() && it->first < end; ++it) {
        uint64_t rb = std::max<uint64_t>(begin, it->first);
        uint64_t re = std::min<uint64_t>(end, uint64_t{it->first} + it->second.size());
        if (rb >= re) continue;
        std::memcpy(out.data() + (rb - begin), it->second.data() + (rb - it->first), re - rb);
    }
    return out;
}

std::vector<SparseMemory::Region> SparseMemory::Regions() const {
    std::vector<Region> out;
    out.reserve(regions_.size());
    for (const auto& [address, bytes] : regions_) out.push_back({address, bytes});
    return out;
}

void SparseMemory::Clear() {
    regions_.clear();
    byteCount_ = 0;
}

}  // namespace sim
