#pragma once
// The navigator's SPI-NOR flash as the point import sees it: a byte array, erased to 0xFF,
// holding the saved point records from its start, and the chip's identification bytes.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/point_records.h"

namespace sim {

inline constexpr std::array<uint8_t, 4> kDefaultSpinorId{0xC2, 0x20, 0x18, 0x00};

class SpiNorFlash {
public:
    static constexpr uint32_t kDefaultSize = 1u << 20;

    explicit SpiNorFlash(uint32_t size = kDefaultSize);

    uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
    // Bytes of [address, address + length); anything past the chip's end reads as erased.
    std::vector<uint8_t> Read(uint32_t address, uint32_t length) const;
    // Throws std::out_of_range when the data does not fit in the chip.
    void Program(uint32_t address, std::span<const uint8_t> data);
    void Erase();
    // Erases the chip and writes the records back to back from `start`.
    // Throws std::out_of_range when they do not fit.
    void LoadRecords(std::span<const PointRecordBytes> records, uint32_t start = 0);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace sim
