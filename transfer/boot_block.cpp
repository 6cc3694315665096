#include "transfer/boot_block.h"

namespace transfer {

namespace {
void PutLe(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t GetLe(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

uint32_t crc32_acc(const uint8_t* bytes, size_t count, uint32_t reg) {
    for (size_t i = 0; i < count; ++i) reg = crc32_tab[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

std::array<uint8_t, 64> BootBlockBytes(const boot_block& block) {
    std::array<uint8_t, 64> out{};
    const uint32_t words[] = {block.magic,          block.headerCrc,      block.bootCodeSize,
                              block.bootCodeOffset, block.reserved16,     block.entryAddress,
                              block.firmwareEntry,  block.referenceClock, block.pllctrl[0],
                              block.pllctrl[1],     block.pllctrl[2]};
    for (size_t i = 0; i < std::size(words); ++i) PutLe(out.data() + 4 * i, words[i]);
    for (size_t i = 0; i < sizeof block.reserved44; ++i) out[44 + i] = block.reserved44[i];
    return out;
}

boot_block BootBlockFromBytes(std::span<const uint8_t, 64> bytes) {
    boot_block block;
    block.magic = GetLe(&bytes[0]);
    block.headerCrc = GetLe(&bytes[4]);
    block.bootCodeSize = GetLe(&bytes[8]);
    block.bootCodeOffset = GetLe(&bytes[12]);
    block.reserved16 = GetLe(&bytes[16]);
    block.entryAddress = GetLe(&bytes[20]);
    block.firmwareEntry = GetLe(&bytes[24]);
    block.referenceClock = GetLe(&bytes[28]);
    SetBootBlockTail(block, bytes.subspan<32, 32>());
    return block;
}

void SetBootBlockTail(boot_block& block, std::span<const uint8_t, 32> bytes) {
    for (size_t i = 0; i < 3; ++i) block.pllctrl[i] = GetLe(&bytes[4 * i]);
    for (size_t i = 0; i < sizeof block.reserved44; ++i) block.reserved44[i] = bytes[12 + i];
}

uint32_t BootBlockHeaderCrc(const boot_block& block) {
    std::array<uint8_t, 64> bytes = BootBlockBytes(block);
    return crc32_acc(bytes.data() + 8, bytes.size() - 8, kHeaderCrcSeed);
}

}  // namespace transfer
