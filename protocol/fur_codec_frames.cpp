#include "protocol/fur_codec.h"

std::size_t BuildFrame(FUR_CMD_NAME cmd, std::span<const uint8_t> head,
                       std::span<const uint8_t> tail, std::span<uint8_t> out) {
    const std::size_t n = head.size() + tail.size();
    if (n > kFurMaxPayload || out.size() < n + kFurOverhead || !IsFurCmd(cmd)) return 0;
    uint8_t* payload = out.data() + kFurPayloadOffset;
    if (!head.empty()) std::memcpy(payload, head.data(), head.size());
    if (!tail.empty()) std::memcpy(payload + head.size(), tail.data(), tail.size());
    genfurcmd(cmd, static_cast<uint32_t>(n), out.data());
    return n + kFurOverhead;
}

std::vector<uint8_t> MakeFrame(FUR_CMD_NAME cmd, std::span<const uint8_t> head,
                               std::span<const uint8_t> tail) {
    const std::size_t n = head.size() + tail.size();
    if (n > kFurMaxPayload || !IsFurCmd(cmd)) return {};
    std::vector<uint8_t> frame(n + kFurOverhead);
    BuildFrame(cmd, head, tail, frame);
    return frame;
}

std::vector<uint8_t> MakeFwpgFrame(uint32_t address, uint16_t index,
                                   std::span<const uint8_t> data) {
    const FUR_PACKET_BOOT2_FWPG header{address, index};
    const std::size_t n = sizeof(header) + FwpgDataLength(data.size());
    if (n > kFurMaxPayload) return {};
    std::vector<uint8_t> frame(n + kFurOverhead);  // zero-filled: the pad byte is already 0x00
    uint8_t* payload = frame.data() + kFurPayloadOffset;
    std::memcpy(payload, &header, sizeof(header));
    if (!data.empty()) std::memcpy(payload + sizeof(header), data.data(), data.size());
    genfurcmd(BOOT2_FWPG, static_cast<uint32_t>(n), frame.data());
    return frame;
}

std::span<const uint8_t> FurPayload(std::span<const uint8_t> parsed, const FUR_DATA& result) {
    if (result.payloadOffset < 0 || result.payloadLength < 0) return {};
    const auto offset = static_cast<std::size_t>(result.payloadOffset);
    const auto length = static_cast<std::size_t>(result.payloadLength);
    if (offset > parsed.size() || length > parsed.size() - offset) return {};
    return parsed.subspan(offset, length);
}
