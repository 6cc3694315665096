#pragma once
// The FUR frame codec: pure functions over caller buffers, no I/O, no state, safe on any thread.
//
// Frame on the wire (little-endian): F1 D9, class, id, N (16 bits), N payload bytes, then the
// running sums A and B over class..payload.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "protocol/fur_codec_types.h"

// Sync bytes, payload position, overhead and limits of a frame.
inline constexpr uint8_t kFurSync0 = 0xF1;
inline constexpr uint8_t kFurSync1 = 0xD9;
inline constexpr uint32_t kFurPayloadOffset = 6;
inline constexpr uint32_t kFurOverhead = 8;
inline constexpr uint32_t kFurMaxFrame = 10000;  // what a receiver accepts
inline constexpr uint32_t kFurMaxPayload = kFurMaxFrame - kFurOverhead;
// parsefur examines at most this many bytes per call (its offsets are 16-bit); the caller
// drops what it returns and calls again for the rest.
inline constexpr uint32_t kFurMaxParseCount = 65535;

// Writes the class of `cmd` to classAndId[0] and its id to classAndId[1]. For a value that is
// not a frame kind (203, or outside 0 to 321) nothing is written; see IsFurCmd.
void getpacketid(FUR_CMD_NAME cmd, uint8_t* classAndId);

// Completes the frame at `frame` (the sync byte of a buffer of length + 8 bytes) whose payload
// of `length` bytes is already at frame + 6: writes sync, class, id, length and the checksum.
// When `length` exceeds kFurMaxPayload or `cmd` is not a frame kind, nothing at all is written,
// so the buffer holds no sync and cannot be mistaken for a frame; genfurcmd_checked tells.
void genfurcmd(FUR_CMD_NAME cmd, uint32_t length, uint8_t* frame);

// genfurcmd that reports whether it wrote the frame.
bool genfurcmd_checked(FUR_CMD_NAME cmd, uint32_t length, uint8_t* frame);

// Finds, checks and decodes the first frame in `data[0, count)`, fills `result` and returns
// how many bytes at the front are finished with (garbage, a rejected frame or the decoded
// frame); the caller drops them and keeps the rest. Only the first kFurMaxParseCount bytes are
// examined, so the return value never exceeds that; a larger buffer takes several calls.
uint32_t parsefur(const uint8_t* data, uint32_t count, FUR_DATA* result);

// --- Helpers built on the codec -------------------------------------------------------------

// True for 0 to 202 and 204 to 321.
bool IsFurCmd(FUR_CMD_NAME cmd);

// The 16-bit code of `cmd` (class in the high byte), 0 for a value that is not a frame kind.
uint16_t FurCode(FUR_CMD_NAME cmd);

// Bytes of a payload record, to hand to BuildFrame or MakeFrame.
template <typename Record>
std::span<const uint8_t> RecordBytes(const Record& record) {
    static_assert(std::is_trivially_copyable_v<Record>);
    return {reinterpret_cast<const uint8_t*>(&record), sizeof(Record)};
}

// Writes a whole frame whose payload is `head` followed by `tail` into `out` and returns its
// size (payload + 8). Returns 0 and writes nothing when the payload exceeds kFurMaxPayload,
// `out` is too small, or `cmd` is not a frame kind. `out` must not overlap the payload.
std::size_t BuildFrame(FUR_CMD_NAME cmd, std::span<const uint8_t> head,
                       std::span<const uint8_t> tail, std::span<uint8_t> out);

// BuildFrame into a new vector; empty when the frame cannot be built.
std::vector<uint8_t> MakeFrame(FUR_CMD_NAME cmd, std::span<const uint8_t> head = {},
                               std::span<const uint8_t> tail = {});

// A BOOT2_FWPG frame programming `data` at `address`. Flash is written in 16-bit units, so an
// odd block gets one 0x00 byte appended; the caller advances the address by
// FwpgDataLength(data.size()). Empty when the padded payload exceeds kFurMaxPayload.
std::vector<uint8_t> MakeFwpgFrame(uint32_t address, uint16_t index, std::span<const uint8_t> data);
inline std::size_t FwpgDataLength(std::size_t n) {
    return n + (n & 1u);
}

// The payload of the frame that parsefur decoded from `parsed`; empty unless the result
// lies inside `parsed`.
std::span<const uint8_t> FurPayload(std::span<const uint8_t> parsed, const FUR_DATA& result);

// Copies the leading bytes of `payload` into a record; false when the payload is shorter.
template <typename Record>
bool ReadRecord(std::span<const uint8_t> payload, Record* record) {
    static_assert(std::is_trivially_copyable_v<Record>);
    if (payload.size() < sizeof(Record)) return false;
    std::memcpy(record, payload.data(), sizeof(Record));
    return true;
}
