#pragma once
// Words for the bytes of a chunk: the frames it holds, named after the codec's table.
#include <cstdint>
#include <span>
#include <string>

#include "protocol/fur_codec_types.h"

namespace diag {

// "VERSION_POLL", "BOOT2_FWPG"; frame kinds without a name of their own by class and id, as
// "FUR_0B_01".
std::string FrameName(FUR_CMD_NAME command);
std::string FrameName(uint8_t msgClass, uint8_t msgId);

// The frames of `bytes`, as "VERSION_POLL len 0", "ACK_ACK of BOOT2_FWPG", "ACK_NAK of CFG_CFG",
// joined by ", "; a chunk without a whole frame says what it holds instead ("23 bytes, no
// frame", "YMODEM block 1, 1024 bytes").
// A request and its reply may share class and id and differ only in length ("VERSION_POLL",
// "VERSION_DATA"): what the tool sends is named as the request.
enum class ChunkSide { Sent, Received };
std::string DescribeChunk(std::span<const uint8_t> bytes, ChunkSide side);

}  // namespace diag
