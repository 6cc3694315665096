#pragma once
// What the device has received into its memories, as a set of disjoint address regions.
// Overlapping or touching writes merge into one region; a later write wins byte by byte.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace sim {

class SparseMemory {
public:
    struct Region {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };

    // Stores `data` at `address`. Returns false (and stores nothing) when the range would run
    // past the end of the 32-bit address space. An empty write changes nothing.
    bool Write(uint32_t address, std::span<const uint8_t> data);

    // True when every byte of [address, address + length) has been written.
    bool Covers(uint32_t address, uint32_t length) const;
    // The bytes of [address, address + length); unwritten bytes read as `fill`.
    std::vector<uint8_t> Read(uint32_t address, uint32_t length, uint8_t fill = 0xFF) const;

    std::vector<Region> Regions() const;
    const std::map<uint32_t, std::vector<uint8_t>>& RegionMap() const { return regions_; }
    size_t ByteCount() const { return byteCount_; }
    bool Empty() const { return regions_.empty(); }
    void Clear();

private:
    // Keyed by start address; regions never overlap or touch.
    std::map<uint32_t, std::vector<uint8_t>> regions_;
    size_t byteCount_ = 0;
};

}  // namespace sim
