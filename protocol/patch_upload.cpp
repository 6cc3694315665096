#include "protocol/patch_upload.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/tick.h"
#include "protocol/device_commands.h"
#include "protocol/fur_codec.h"

namespace {

// Clears stale input so that no earlier answer counts for this frame, sends it and waits for
// the positive acknowledgement.
bool SendAcknowledged(FIFOStream& port, const std::vector<uint8_t>& frame, FUR_CMD_NAME command,
                      uint32_t timeoutMs) {
    if (frame.empty()) return false;
    port.DiscardInBuffer();
    port.SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
    const auto deadline = static_cast<int32_t>(platform::TickCount() + timeoutMs);
    return WaitForAck(&port, deadline, static_cast<uint32_t>(command)) == kAckAccepted;
}

}  // namespace

std::optional<uint32_t> ParsePatchEntryAddress(std::string_view text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isxdigit(u)) return std::nullopt;
        const uint32_t digit = std::isdigit(u) ? u - '0' : (std::tolower(u) - 'a' + 10);
        value = value << 4 | digit;
    }
    return value;
}

int32_t sendPatchFile(const PatchUploadContext& context) {
    const std::span<const uint8_t> image = context.image;
    const auto packets = static_cast<int32_t>((image.size() + PatchFirmwareMaxPacketLen - 1) /
                                              PatchFirmwareMaxPacketLen);
    context.TotalPacketNum = packets;
    context.progressMax = packets;

    // The text never changes; checking it first avoids loading an image that cannot be run.
    const std::optional<uint32_t> entry = ParsePatchEntryAddress(context.entryAddressText);
    // No image (none was found, and stand-ins are not allowed): nothing may be started.
    if (context.SendPort == nullptr || !entry || image.empty()) return kPatchFailed;
    FIFOStream& port = *context.SendPort;

    std::size_t offset = 0;
    uint32_t address = kPatchLoadAddress;
    for (int32_t i = 0; i < packets; ++i) {
        const std::size_t length =
            std::min<std::size_t>(PatchFirmwareMaxPacketLen, image.size() - offset);
        const auto frame =
            MakeFwpgFrame(address, static_cast<uint16_t>(i), image.subspan(offset, length));
        address += static_cast<uint32_t>(FwpgDataLength(length));
        offset += length;
        if (!SendAcknowledged(port, frame, BOOT2_FWPG, kPatchPacketTimeoutMs)) {
            return kPatchFailed;
        }
        if (context.UpdateProgressDelegate) context.UpdateProgressDelegate(i);
    }

    const FUR_PACKET_BOOT2_RUN run{*entry};
    const bool started = SendAcknowledged(port, MakeFrame(BOOT2_RUN, RecordBytes(run)), BOOT2_RUN,
                                          kPatchRunTimeoutMs);
    return started ? kPatchStarted : kPatchFailed;
}
