#include "transfer/ymodem_blocks.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace transfer {

namespace {

template <size_t N>
void Frame(std::array<uint8_t, N>& block, ControlCharacters start, uint8_t number) {
    block[0] = Byte(start);
    block[1] = number;
    block[2] = static_cast<uint8_t>(255 - number);
    const auto payload = static_cast<int32_t>(N - 5);
    const int32_t crc = YmodemCrc16(block.data() + 3, payload);
    block[N - 2] = static_cast<uint8_t>(crc >> 8);
    block[N - 1] = static_cast<uint8_t>(crc & 0xFF);
}

}  // namespace

int32_t YmodemCrc16(const uint8_t* bytes, int32_t count) {
    uint32_t crc = 0;
    for (int32_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return static_cast<int32_t>(crc & 0xFFFF);
}

void BuildHeaderBlock(HeaderBlock& block, std::string_view name, int32_t fileSize) {
    if (name.empty() || name.size() > kYmodemMaxNameBytes) {
        throw std::invalid_argument("the file name must be 1 to 117 bytes long");
    }
    if (fileSize < 0) throw std::invalid_argument("negative file size");
    block.fill(0);
    uint8_t* payload = block.data() + 3;
    std::memcpy(payload, name.data(), name.size());
    char* digits = reinterpret_cast<char*>(payload + name.size() + 1);
    std::to_chars(digits, digits + 10, fileSize);
    Frame(block, ControlCharacters::SOH, 0);
}

void BuildDataBlock(DataBlock& block, uint8_t number, std::span<const uint8_t> data) {
    if (data.size() > kYmodemDataPayload) throw std::invalid_argument("more than 1,024 bytes");
    uint8_t* payload = block.data() + 3;
    std::copy(data.begin(), data.end(), payload);
    std::fill(payload + data.size(), payload + kYmodemDataPayload, kYmodemFill);
    Frame(block, ControlCharacters::STX, number);
}

void BuildEndOfBatchBlock(HeaderBlock& block) {
    block.fill(0);
    Frame(block, ControlCharacters::SOH, 0);
}

}  // namespace transfer
