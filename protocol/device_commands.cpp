#include "protocol/device_commands.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/tick.h"
#include "protocol/device_mode.h"

namespace {

using platform::TickCount;
using platform::TickReached;
using platform::TickRemaining;

// Removes `used` bytes from the front of held[0, fill).
void DropFront(uint8_t* held, std::size_t& fill, std::size_t used) {
    used = std::min(used, fill);
    std::memmove(held, held + used, fill - used);
    fill -= used;
}

// True when held[0, fill) starts with a frame header whose frame would not fit in a query's
// carry array.
bool AnnouncesMoreThanHeld(const uint8_t* held, std::size_t fill) {
    if (fill < kFurPayloadOffset || held[0] != kFurSync0 || held[1] != kFurSync1) return false;
    const std::size_t length = held[4] | static_cast<std::size_t>(held[5]) << 8;
    return length + kFurOverhead > kQueryCarrySize;
}

void SendFrame(FIFOStream& stream, std::span<const uint8_t> frame) {
    stream.SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
}

// Sends the empty-payload `request` and reads replies for up to 2,000 ms. The first complete,
// valid frame that decodes as `reply` decides the query: `test` on its payload is the answer,
// at once, whether it passes or not. Waiting out the deadline after the device has answered
// only froze the caller. Bytes that waited in the buffer before the request went out answer an
// earlier query, so they are dropped first and cannot decide this one. Unconsumed bytes are
// kept across reads (up to kQueryCarrySize), so a reply split over two reads is still seen; a
// header announcing a frame longer than that is skipped. Silence, garbage, corrupt frames and
// frames of another kind leave the query waiting until its deadline.
template <typename Test>
bool RunQuery(FIFOStream* stream, FUR_CMD_NAME request, FUR_CMD_NAME reply, Test test) {
    if (stream == nullptr) return false;
    std::array<uint8_t, kFurOverhead> frame{};
    genfurcmd(request, 0, frame.data());
    stream->DiscardInBuffer();
    SendFrame(*stream, frame);

    const uint32_t deadline = TickCount() + kQueryTimeoutMs;
    std::array<uint8_t, kQueryCarrySize> held{};
    std::size_t fill = 0;
    while (!TickReached(TickCount(), deadline)) {
        const std::size_t room = std::min(kQueryReadSize, held.size() - fill);
        const int32_t got =
            stream->Read(held.data(), static_cast<int32_t>(fill), static_cast<int32_t>(room));
        bool progressed = got > 0;
        fill += static_cast<std::size_t>(std::max(got, 0));

        while (fill > 0) {
            FUR_DATA result{PARSE_NO_FRAME, FUR_CMD_NAME{}, 0, 0};
            const uint32_t used = parsefur(held.data(), static_cast<uint32_t>(fill), &result);
            if (used == 0) break;
            if (result.status == PARSE_OK && result.command == reply) {
                return test(FurPayload({held.data(), fill}, result));
            }
            DropFront(held.data(), fill, used);
            progressed = true;
        }
        if (AnnouncesMoreThanHeld(held.data(), fill)) {
            // No reply of ours is that long: give up this sync so what follows is examined.
            DropFront(held.data(), fill, 1);
            progressed = true;
        }
        if (!progressed && !AwaitBytes(*stream, deadline)) return false;  // the link is gone
    }
    return false;
}

bool SendAndAwaitAck(FIFOStream* stream, std::span<const uint8_t> frame, FUR_CMD_NAME command) {
    if (stream == nullptr || frame.empty()) return false;
    SendFrame(*stream, frame);
    const auto deadline = static_cast<int32_t>(TickCount() + kSenderTimeoutMs);
    return WaitForAck(stream, deadline, static_cast<uint32_t>(command)) == kAckAccepted;
}

}  // namespace

bool IsPositiveAckPair(uint8_t ackClass, uint8_t ackId) {
    switch (ackClass << 8 | ackId) {
        case 0xF405:  // BOOT2_FWPG
        case 0xF406:  // BOOT2_RUN
        case 0xF409:
        case 0x0650:  // CFG_FWUP
        case 0x0609:  // CFG_CFG
        case 0x060A:
        case 0x0600:
            return true;
        default:
            return false;
    }
}

int32_t WaitForAck(FIFOStream* buffer, int32_t deadline, uint32_t /*command*/) {
    if (buffer == nullptr) return kAckTimeout;
    const uint32_t end = static_cast<uint32_t>(deadline) + kAckGraceMs;
    if (TickReached(TickCount(), end)) return kAckTimeout;

    std::array<uint8_t, kAckWorkSize> work;
    std::size_t fill = 0;
    while (!TickReached(TickCount(), end)) {
        const std::size_t room = work.size() - fill;
        int32_t got = 0;
        if (room > 0) {
            got = buffer->Read(work.data(), static_cast<int32_t>(fill), static_cast<int32_t>(room));
            fill += static_cast<std::size_t>(std::max(got, 0));
        }
        bool progressed = got > 0;
        if (fill > 0) {
            FUR_DATA result{PARSE_NO_FRAME, FUR_CMD_NAME{}, 0, 0};
            const uint32_t used = parsefur(work.data(), static_cast<uint32_t>(fill), &result);
            if (used > 0) {
                if (result.status == PARSE_OK) {
                    FUR_PACKET_ACK_ACK ack{};
                    const bool isAck = ReadRecord(FurPayload({work.data(), fill}, result), &ack);
                    if (isAck && result.command == ACK_NAK && ack.ackClass == 0xF4 &&
                        ack.ackId == 0x05) {
                        return kAckRefused;
                    }
                    if (isAck && result.command == ACK_ACK &&
                        IsPositiveAckPair(ack.ackClass, ack.ackId)) {
                        return kAckAccepted;
                    }
                }
                DropFront(work.data(), fill, used);
                progressed = true;
            }
        }
        if (progressed) continue;
        if (room == 0) {
            // A frame longer than the work array never completes; wait out the deadline.
            platform::SleepMs(std::min(TickRemaining(TickCount(), end), kPollSliceMs));
        } else if (!AwaitBytes(*buffer, end)) {
            return kAckTimeout;  // the link is gone: no answer can come
        }
    }
    return kAckTimeout;
}

DeviceCommands::DeviceCommands(bool& patchStatus, std::span<uint8_t, kBootMemoryLength> bootMemory,
                               const int32_t& kroType)
    : patchStatus_(patchStatus), bootMemory_(bootMemory), kroType_(kroType) {}

bool DeviceCommands::CheckUsbVersion(FIFOStream* stream) {
    return RunQuery(stream, VERSION_POLL, VERSION_DATA, IsBootStageText);
}

bool DeviceCommands::CheckPatchVersion(FIFOStream* stream) {
    const bool found = RunQuery(stream, VERSION_POLL, VERSION_DATA, IsPatchProgramText);
    patchStatus_ = found;
    return found;
}

bool DeviceCommands::CheckSpinorId(FIFOStream* stream) {
    return RunQuery(
        stream, BOOT2_SPINORID_POLL, BOOT2_SPINORID_DATA, [](std::span<const uint8_t> payload) {
            FUR_PACKET_BOOT2_SPINORID_DATA data{};
            return ReadRecord(payload, &data) && data.id[0] != 0xFF && data.id[1] != 0xFF;
        });
}

bool DeviceCommands::bootMemoryRead(FIFOStream* stream) {
    return RunQuery(stream, BOOTMEM_DATA, BOOTMEM_DATA, [this](std::span<const uint8_t> payload) {
        if (payload.size() != kBootMemoryLength) return false;
        std::copy(payload.begin(), payload.end(), bootMemory_.begin());
        return true;
    });
}

bool DeviceCommands::bootMemoryWrite(FIFOStream* stream) {
    const FUR_PACKET_BOOT2_FWPG head{0, 1};
    const auto frame = MakeFrame(BOOT2_FWPG, RecordBytes(head), bootMemory_);
    return SendAndAwaitAck(stream, frame, BOOT2_FWPG);
}

bool DeviceCommands::FwUpCmd(FIFOStream* stream) {
    // The frame is sent from a 10-byte array whose last byte stays 0x00; all 10 go out.
    std::array<uint8_t, 10> bytes{};
    const FUR_PACKET_CFG_FWUP fwup{16};
    BuildFrame(CFG_FWUP, RecordBytes(fwup), {}, bytes);
    return SendAndAwaitAck(stream, bytes, CFG_FWUP);
}

void DeviceCommands::SendResetCmd(FIFOStream* stream) {
    if (stream == nullptr) return;
    const FUR_PACKET_CFG_SIMPLERST reset{0};
    SendFrame(*stream, MakeFrame(CFG_SIMPLERST, RecordBytes(reset)));
}

bool DeviceCommands::usbIntoBootOne(const ConnectionHooks& hooks) {
    if (!hooks.connect || !hooks.connect()) return false;
    const bool boot = CheckUsbVersion(hooks.stream ? hooks.stream() : nullptr);
    if (hooks.disconnect) hooks.disconnect();
    return !boot;
}

void DeviceCommands::usbIntoBootTwo(const ConnectionHooks& hooks) {
    if (!hooks.connect || !hooks.connect()) return;
    bootMemoryWrite(hooks.stream ? hooks.stream() : nullptr);
    if (hooks.disconnect) hooks.disconnect();
}

int32_t DeviceCommands::ReadBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target,
                                            bool skipHeader) {
    platform::SleepMs(10);
    const auto capacity = static_cast<int32_t>(std::min<std::size_t>(target.size(), INT32_MAX));
    if (skipHeader && kroType_ != 2) {
        // The header lands at the front of the target and is overwritten by what follows. A
        // stream may hand out fewer bytes than asked before its end, so gather all 16.
        if (capacity < kStreamHeaderSize) return 0;
        int32_t header = 0;
        while (header < kStreamHeaderSize) {
            const int32_t got = source.Read(target.data(), header, kStreamHeaderSize - header);
            if (got <= 0) return 0;
            header += got;
        }
    }
    int32_t total = 0;
    while (total < kStreamChunkLimit) {
        const int32_t request = std::min(kStreamPieceSize, capacity - total);
        if (request <= 0) break;
        const int32_t got = source.Read(target.data(), total, request);
        if (got <= 0) break;
        total += std::min(got, request);
    }
    return total;
}

int32_t ReadAllBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target) {
    const auto capacity = static_cast<int64_t>(std::min<std::size_t>(target.size(), INT32_MAX));
    int32_t total = 0;
    for (;;) {
        if (total + int64_t{kReadAllPieceSize} > capacity) {
            throw platform::StreamError("The target is too small for the stream");
        }
        const int32_t got = source.Read(target.data(), total, kReadAllPieceSize);
        if (got <= 0) return total;
        total += std::min(got, kReadAllPieceSize);
    }
}
