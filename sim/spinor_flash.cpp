#include "sim/spinor_flash.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim {

SpiNorFlash::SpiNorFlash(uint32_t size) : bytes_(size, 0xFF) {}

std::vector<uint8_t> SpiNorFlash::Read(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    if (address < bytes_.size()) {
        size_t n = std::min<size_t>(length, bytes_.size() - address);
        std::memcpy(out.data(), bytes_.data() + address, n);
    }
    return out;
}

void SpiNorFlash::Program(uint32_t address, std::span<const uint8_t> data) {
    if (uint64_t{address} + data.size() > bytes_.size()) {
        throw std::out_of_range("data runs past the end of the SPI-NOR flash");
    }
    if (!data.empty()) std::memcpy(bytes_.data() + address, data.data(), data.size());
}

void SpiNorFlash::Erase() {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
}

void SpiNorFlash::LoadRecords(std::span<const PointRecordBytes> records, uint32_t start) {
    if (uint64_t{start} + uint64_t{records.size()} * kPointRecordSize > bytes_.size()) {
        throw std::out_of_range("point records do not fit in the SPI-NOR flash");
    }
    Erase();
    uint32_t address = start;
    for (const PointRecordBytes& r : records) {
        Program(address, r);
        address += kPointRecordSize;
    }
}

}  // namespace sim
