#pragma once
// One request of the point import and the wait for its answer: a BOOT2_SPINORRD_POLL frame
// asks for `length` flash bytes at `address`, and the device answers with BOOT2_SPINORRD_DATA
// whose payload begins with those bytes.
//
// The wait blocks on the receive buffer until bytes arrive (no spinning) and keeps an
// unfinished frame across reads, so an answer split over several reads is still found. Frames
// of other kinds, rejected frames and garbage are dropped. What is held stays bounded: when it
// would pass kSpinorHoldLimit the oldest bytes go.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "transport/fifo_stream.h"

// Time one request may take to be answered.
inline constexpr uint32_t kSpinorReplyTimeoutMs = 2000;
// Largest single take from the receive buffer.
inline constexpr int32_t kSpinorReadSize = 2048;
// Bytes held at most while a frame is incomplete (more than the largest frame a device sends).
inline constexpr std::size_t kSpinorHoldLimit = 16384;

// The 14-byte request frame.
std::vector<uint8_t> MakeSpinorReadFrame(uint32_t address, uint16_t length);

// Reads `buffer` until a good BOOT2_SPINORRD_DATA frame arrives or the tick count reaches
// `deadline`; returns that frame's payload, or nothing at the deadline (also when the buffer's
// stream has ended: the wait then sleeps out its slices instead of spinning).
std::optional<std::vector<uint8_t>> WaitForSpinorData(FIFOStream& buffer, uint32_t deadline);
