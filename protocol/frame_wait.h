#pragma once
// Waiting for one kind of frame on a receive buffer: blocks until bytes arrive (no spinning),
// keeps an unfinished frame across reads so an answer split over several reads is still
// found, and drops frames of other kinds, rejected frames and garbage. What is held stays
// bounded: past kFrameHoldLimit bytes the oldest go.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/fur_codec_types.h"
#include "transport/fifo_stream.h"

// Largest single take from the receive buffer.
inline constexpr int32_t kFrameReadSize = 2048;
// Bytes held at most while a frame is incomplete (more than the largest frame a device sends).
inline constexpr std::size_t kFrameHoldLimit = 16384;

// Reads `buffer` until a good frame decoded as `command` arrives or the tick count reaches
// `deadline`; returns that frame's payload, or nothing at the deadline (also when the buffer's
// stream has ended: the wait then sleeps out short slices instead of spinning), or nothing at
// once when the buffer's source failed and nothing is left in it.
std::optional<std::vector<uint8_t>> WaitForFramePayload(FIFOStream& buffer, FUR_CMD_NAME command,
                                                        uint32_t deadline);
