#pragma once
// One request of the point import and the wait for its answer: a BOOT2_SPINORRD_POLL frame
// asks for `length` flash bytes at `address`, and the device answers with BOOT2_SPINORRD_DATA
// whose payload begins with those bytes.
#include <cstdint>
#include <optional>
#include <vector>

#include "transport/fifo_stream.h"

// Time one request may take to be answered.
inline constexpr uint32_t kSpinorReplyTimeoutMs = 2000;

// The 14-byte request frame.
std::vector<uint8_t> MakeSpinorReadFrame(uint32_t address, uint16_t length);

// The payload of the next good BOOT2_SPINORRD_DATA frame, or nothing once the tick count
// reaches `deadline` (see WaitForFramePayload).
std::optional<std::vector<uint8_t>> WaitForSpinorData(FIFOStream& buffer, uint32_t deadline);
