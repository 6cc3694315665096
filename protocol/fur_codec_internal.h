#pragma once
// Building blocks of the codec, exposed for tests and benchmarks only.
#include <cstdint>

#include "protocol/fur_codec_types.h"

// The two running sums over `count` bytes: A = A + byte, then B = B + A, both mod 256.
void furchecksum(const uint8_t* bytes, uint32_t count, uint8_t* checkA, uint8_t* checkB);

// Checksum test of a complete frame of `size` bytes starting at the sync.
bool checkfur(const uint8_t* frame, uint32_t size);

// Code and payload length to a value: the class 0x02 range directly, otherwise a binary search
// over FUR_CMD_TABLE as stored. False when nothing matches (`*cmd` untouched).
bool findfurcmd(uint16_t code, uint32_t payloadLength, FUR_CMD_NAME* cmd);

// checkfur, then findfurcmd with result->payloadLength; stores the value in result->command
// only on success.
FUR_PARSE_RESULT verifyfur(const uint8_t* frame, uint32_t size, FUR_DATA* result);
