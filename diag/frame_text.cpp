#include "diag/frame_text.h"

#include <cstdio>

#include "protocol/fur_codec.h"

namespace diag {

namespace {

struct NamedFrame {
    FUR_CMD_NAME command;
    const char* name;
};

constexpr NamedFrame kNamed[] = {
    {ACK_NAK, "ACK_NAK"},
    {ACK_ACK, "ACK_ACK"},
    {CFG_CFG, "CFG_CFG"},
    {CFG_SIMPLERST, "CFG_SIMPLERST"},
    {CFG_FWUP, "CFG_FWUP"},
    {VERSION_POLL, "VERSION_POLL"},
    {VERSION_DATA, "VERSION_DATA"},
    {BOOTMEM_DATA, "BOOTMEM_DATA"},
    {BOOT2_FWPG, "BOOT2_FWPG"},
    {BOOT2_RUN, "BOOT2_RUN"},
    {BOOT2_SPINORID_POLL, "BOOT2_SPINORID_POLL"},
    {BOOT2_SPINORID_DATA, "BOOT2_SPINORID_DATA"},
    {BOOT2_SPINORRD_POLL, "BOOT2_SPINORRD_POLL"},
    {BOOT2_SPINORRD_DATA, "BOOT2_SPINORRD_DATA"},
};

// The first frame kind with this class and id: the names belong to codes, whatever the length.
const char* NameOfCode(uint16_t code) {
    for (const NamedFrame& f : kNamed) {
        if (FurCode(f.command) == code) return f.name;
    }
    return nullptr;
}

// YMODEM's control bytes and blocks, for the firmware transfer after CFG_FWUP.
std::string DescribeYmodem(std::span<const uint8_t> b) {
    if (b.size() == 1) {
        switch (b[0]) {
            case 0x04:
                return "YMODEM EOT";
            case 0x06:
                return "YMODEM ACK";
            case 0x15:
                return "YMODEM NAK";
            case 0x18:
                return "YMODEM CAN";
            case 'C':
                return "YMODEM C";
        }
    }
    if (b.size() >= 3 && (b[0] == 0x01 || b[0] == 0x02) && (b[1] ^ b[2]) == 0xFF) {
        const std::size_t size = b[0] == 0x01 ? 128 : 1024;
        return "YMODEM block " + std::to_string(b[1]) + ", " + std::to_string(size) + " bytes";
    }
    return {};
}

}  // namespace

std::string FrameName(uint8_t msgClass, uint8_t msgId) {
    if (const char* name = NameOfCode(static_cast<uint16_t>(msgClass << 8 | msgId))) return name;
    char text[16];
    std::snprintf(text, sizeof text, "FUR_%02X_%02X", msgClass, msgId);
    return text;
}

std::string FrameName(FUR_CMD_NAME command) {
    for (const NamedFrame& f : kNamed) {
        if (f.command == command) return f.name;
    }
    const uint16_t code = FurCode(command);
    return FrameName(static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF));
}

std::string DescribeChunk(std::span<const uint8_t> bytes, ChunkSide side) {
    std::string text;
    int frames = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        FUR_DATA result{};
        const uint32_t count =
            static_cast<uint32_t>(std::min<std::size_t>(bytes.size() - at, kFurMaxParseCount));
        const uint32_t used = parsefur(bytes.data() + at, count, &result);
        if (result.status == PARSE_OK) {
            if (frames > 0) text += ", ";
            if (++frames > 8) {
                text += "...";
                break;
            }
            const auto payload = FurPayload(bytes.subspan(at, used), result);
            if ((result.command == ACK_ACK || result.command == ACK_NAK) && payload.size() >= 2) {
                text += FrameName(result.command) + " of " + FrameName(payload[0], payload[1]);
            } else {
                const uint16_t code = FurCode(result.command);
                const std::string name =
                    side == ChunkSide::Sent
                        ? FrameName(static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code))
                        : FrameName(result.command);
                text += name + " len " + std::to_string(result.payloadLength);
            }
        } else if (result.status == PARSE_BAD_CHECKSUM || result.status == PARSE_UNKNOWN_CMD) {
            if (frames++ > 0) text += ", ";
            text += result.status == PARSE_BAD_CHECKSUM ? "frame with a bad checksum"
                                                        : "frame of an unknown kind";
        }
        if (used == 0) break;
        at += used;
    }
    if (frames > 0) return text;
    if (std::string y = DescribeYmodem(bytes); !y.empty()) return y;
    return std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes") + ", no frame";
}

}  // namespace diag
