#include "protocol/spinor_read.h"

#include "protocol/frame_wait.h"
#include "protocol/fur_codec.h"

std::vector<uint8_t> MakeSpinorReadFrame(uint32_t address, uint16_t length) {
    FUR_PACKET_BOOT2_SPINORRD_POLL request{};
    request.address = address;
    request.length = length;
    return MakeFrame(BOOT2_SPINORRD_POLL, RecordBytes(request));
}

std::optional<std::vector<uint8_t>> WaitForSpinorData(FIFOStream& buffer, uint32_t deadline) {
    return WaitForFramePayload(buffer, BOOT2_SPINORRD_DATA, deadline);
}
