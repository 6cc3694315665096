#pragma once
// The 64-byte boot block header at the start of a firmware image, and the checksum over it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace transfer {

inline constexpr uint32_t kBootBlockMagic = 0xBEEF5555;
inline constexpr uint32_t kBootCodeSize = 2796;
inline constexpr uint32_t kBootEntryAddress = 0x00024125;
inline constexpr uint32_t kHeaderCrcSeed = 0x51564558;
// The firmware file starts here in the image; header and boot program sit below it.
inline constexpr uint32_t kFirmwareImageOffset = 0x10000;
inline constexpr uint32_t kMinBootCodeOffset = 64;
inline constexpr uint32_t kMaxBootCodeOffset = kFirmwareImageOffset - kBootCodeSize;  // 62,740

#pragma pack(push, 1)
struct boot_block {
    uint32_t magic = 0;
    uint32_t headerCrc = 0;
    uint32_t bootCodeSize = 0;
    uint32_t bootCodeOffset = 0;
    uint32_t reserved16 = 0;  // the caller's word, stored unchanged
    uint32_t entryAddress = 0;
    uint32_t firmwareEntry = 0;
    uint32_t referenceClock = 0;
    // Bytes 32..63 come from the caller unchanged; the clock settings lead them.
    uint32_t pllctrl[3] = {0, 0, 0};
    uint8_t reserved44[20] = {};
};
#pragma pack(pop)
static_assert(sizeof(boot_block) == 64, "the boot block header is 64 bytes");
static_assert(offsetof(boot_block, headerCrc) == 4);
static_assert(offsetof(boot_block, bootCodeOffset) == 12);
static_assert(offsetof(boot_block, reserved16) == 16);
static_assert(offsetof(boot_block, entryAddress) == 20);
static_assert(offsetof(boot_block, firmwareEntry) == 24);
static_assert(offsetof(boot_block, referenceClock) == 28);
static_assert(offsetof(boot_block, pllctrl) == 32);
static_assert(offsetof(boot_block, reserved44) == 44);

namespace detail {
constexpr std::array<uint32_t, 256> MakeCrc32Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
}  // namespace detail

// Reflected CRC-32 table of polynomial 0xEDB88320.
inline constexpr std::array<uint32_t, 256> crc32_tab = detail::MakeCrc32Table();

// CRC-32 register update over `count` bytes, starting from `reg`; no inversion in or out.
uint32_t crc32_acc(const uint8_t* bytes, size_t count, uint32_t reg);

// The header as stored: 64 bytes, multi-byte fields little-endian.
std::array<uint8_t, 64> BootBlockBytes(const boot_block& block);
boot_block BootBlockFromBytes(std::span<const uint8_t, 64> bytes);
// Stores the caller's 32 bytes at offsets 32..63 (pllctrl and what follows).
void SetBootBlockTail(boot_block& block, std::span<const uint8_t, 32> bytes);

// The checksum of bytes 8..63, as `headerCrc` holds it.
uint32_t BootBlockHeaderCrc(const boot_block& block);

}  // namespace transfer
