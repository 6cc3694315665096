#pragma once
// Wire formats of the YMODEM sender: the 133-byte header block (block 0), the 1,029-byte data
// block, the end-of-batch block, and the CRC-16 they carry. Pure functions, no I/O.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace transfer {

// Control characters, by their ASCII names; C is the receiver's request for CRC mode.
enum class ControlCharacters : uint8_t {
    SOH = 0x01,
    STX = 0x02,
    EOT = 0x04,
    ACK = 0x06,
    NAK = 0x15,
    CAN = 0x18,
    C = 0x43,
};

constexpr uint8_t Byte(ControlCharacters c) {
    return static_cast<uint8_t>(c);
}

inline constexpr int32_t kYmodemHeaderPayload = 128;
inline constexpr int32_t kYmodemDataPayload = 1024;
inline constexpr int32_t kYmodemHeaderBlockSize = 3 + kYmodemHeaderPayload + 2;  // 133
inline constexpr int32_t kYmodemDataBlockSize = 3 + kYmodemDataPayload + 2;      // 1,029
// Name, its NUL, up to 10 digits and their NUL must fit into the 128 header bytes.
inline constexpr int32_t kYmodemMaxNameBytes = 117;
inline constexpr uint8_t kYmodemFill = 0x1A;

using HeaderBlock = std::array<uint8_t, kYmodemHeaderBlockSize>;
using DataBlock = std::array<uint8_t, kYmodemDataBlockSize>;

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection, no final XOR) of `count` bytes.
int32_t YmodemCrc16(const uint8_t* bytes, int32_t count);

// Block 0: SOH 00 FF, the name, 0x00, the decimal `fileSize`, 0x00 up to 128 bytes, the CRC
// high byte first. The name must be 1 to 117 bytes and the size 0 or more
// (std::invalid_argument otherwise).
void BuildHeaderBlock(HeaderBlock& block, std::string_view name, int32_t fileSize);

// STX, the block number and its complement, `data` (at most 1,024 bytes) filled up with 0x1A,
// and the CRC of the 1,024 payload bytes.
void BuildDataBlock(DataBlock& block, uint8_t number, std::span<const uint8_t> data);

// Block 0 with an empty name: SOH 00 FF, 128 zero bytes, CRC 00 00.
void BuildEndOfBatchBlock(HeaderBlock& block);

}  // namespace transfer
