#include "protocol/fur_codec.h"

#include <cstring>

#include "protocol/fur_codec_internal.h"

namespace {

constexpr int kRows = static_cast<int>(FUR_CMD_TABLE.size());
constexpr int32_t kUnusedValue = 203;
constexpr int32_t kClass2FirstValue = kFurClass2FirstRow;  // 27: id 0x50
constexpr int32_t kClass2LastValue = 202;                  // id 0xFF
constexpr uint8_t kClass2 = 0x02;
constexpr uint8_t kClass2FirstId = 0x50;

}  // namespace

bool IsFurCmd(FUR_CMD_NAME cmd) {
    return cmd >= 0 && cmd < kFurCmdCount && cmd != kUnusedValue;
}

uint16_t FurCode(FUR_CMD_NAME cmd) {
    if (!IsFurCmd(cmd)) return 0;
    if (cmd < kClass2FirstValue) return FUR_CMD_TABLE[cmd].code;
    if (cmd <= kClass2LastValue) {
        return static_cast<uint16_t>(kClass2 << 8 | (cmd - kClass2FirstValue + kClass2FirstId));
    }
    return FUR_CMD_TABLE[cmd - kFurRowValueShift].code;
}

void getpacketid(FUR_CMD_NAME cmd, uint8_t* classAndId) {
    if (!IsFurCmd(cmd)) return;
    uint16_t code = FurCode(cmd);
    classAndId[0] = static_cast<uint8_t>(code >> 8);
    classAndId[1] = static_cast<uint8_t>(code);
}

void furchecksum(const uint8_t* bytes, uint32_t count, uint8_t* checkA, uint8_t* checkB) {
    // Sums in full registers; only the low 8 bits matter, so truncating at the end is exact.
    uint32_t a = 0;
    uint32_t b = 0;
    for (uint32_t i = 0; i < count; ++i) {
        a += bytes[i];
        b += a;
    }
    *checkA = static_cast<uint8_t>(a);
    *checkB = static_cast<uint8_t>(b);
}

bool checkfur(const uint8_t* frame, uint32_t size) {
    if (size < 6) return false;
    uint8_t a = 0;
    uint8_t b = 0;
    furchecksum(frame + 2, size - 4, &a, &b);
    return a == frame[size - 2] && b == frame[size - 1];
}

bool findfurcmd(uint16_t code, uint32_t payloadLength, FUR_CMD_NAME* cmd) {
    const uint16_t class2First = FUR_CMD_TABLE[kFurClass2FirstRow].code;
    if (code >= class2First && code <= FUR_CMD_TABLE[kFurClass2LastRow].code) {
        *cmd = static_cast<FUR_CMD_NAME>(code - class2First + kClass2FirstValue);
        return true;
    }

    // Binary search over the rows as stored. Some codes' rows are out of order, and what those
    // codes decode to depends on this exact search, so it must not be tidied up.
    int16_t lo = 0;
    int16_t hi = kRows - 1;
    int16_t mid = 0;
    bool found = false;
    while (lo <= hi) {
        mid = static_cast<int16_t>((lo + hi) / 2);
        if (FUR_CMD_TABLE[mid].code == code) {
            found = true;
            break;
        }
        if (code > FUR_CMD_TABLE[mid].code) {
            lo = static_cast<int16_t>(mid + 1);
        } else {
            hi = static_cast<int16_t>(mid - 1);
        }
    }
    if (!found) return false;

    int16_t row = mid;
    if (payloadLength >= FUR_CMD_TABLE[mid].minLength) {
        while (row + 1 < kRows && FUR_CMD_TABLE[row + 1].code == code &&
               FUR_CMD_TABLE[row + 1].minLength <= payloadLength) {
            ++row;
        }
    } else {
        row = static_cast<int16_t>(mid - 1);
        while (true) {
            if (row < 0 || FUR_CMD_TABLE[row].code != code) return false;
            if (FUR_CMD_TABLE[row].minLength <= payloadLength) break;
            --row;
        }
    }
    *cmd = static_cast<FUR_CMD_NAME>(row < kFurClass2FirstRow ? row : row + kFurRowValueShift);
    return true;
}

FUR_PARSE_RESULT verifyfur(const uint8_t* frame, uint32_t size, FUR_DATA* result) {
    if (!checkfur(frame, size)) return PARSE_BAD_CHECKSUM;
    uint16_t code = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
    FUR_CMD_NAME cmd{};
    if (!findfurcmd(code, static_cast<uint32_t>(result->payloadLength), &cmd)) {
        return PARSE_UNKNOWN_CMD;
    }
    result->command = cmd;
    return PARSE_OK;
}

bool genfurcmd_checked(FUR_CMD_NAME cmd, uint32_t length, uint8_t* frame) {
    if (frame == nullptr || length > kFurMaxPayload || !IsFurCmd(cmd)) return false;
    frame[0] = kFurSync0;
    frame[1] = kFurSync1;
    getpacketid(cmd, frame + 2);
    frame[4] = static_cast<uint8_t>(length);
    frame[5] = static_cast<uint8_t>(length >> 8);
    furchecksum(frame + 2, length + 4, &frame[kFurPayloadOffset + length],
                &frame[kFurPayloadOffset + length + 1]);
    return true;
}

void genfurcmd(FUR_CMD_NAME cmd, uint32_t length, uint8_t* frame) {
    genfurcmd_checked(cmd, length, frame);
}

uint32_t parsefur(const uint8_t* data, uint32_t count, FUR_DATA* result) {
    result->status = PARSE_NO_FRAME;
    if (count > kFurMaxParseCount) count = kFurMaxParseCount;
    if (count < 2) return (count == 0 || data[0] == kFurSync0) ? 0 : 1;

    // A sync pair can start anywhere before the last byte; memchr skips noise quickly.
    const uint8_t* const pairEnd = data + count - 1;
    const uint8_t* p = data;
    while (p < pairEnd) {
        p = static_cast<const uint8_t*>(std::memchr(p, kFurSync0, pairEnd - p));
        if (p == nullptr) break;
        if (p[1] != kFurSync1) {
            ++p;
            continue;
        }
        const uint32_t pos = static_cast<uint32_t>(p - data);
        const uint32_t remaining = count - pos;
        if (remaining < kFurOverhead) return pos;
        const uint32_t n = static_cast<uint32_t>(p[4] | p[5] << 8);
        result->payloadLength = static_cast<int32_t>(n);
        if (n + kFurOverhead > kFurMaxFrame) {
            // The status stays TOO_LONG unless a later sync yields a frame.
            result->status = PARSE_TOO_LONG;
            ++p;
            continue;
        }
        if (remaining < n + kFurOverhead) return pos;
        result->status = verifyfur(p, n + kFurOverhead, result);
        result->payloadOffset = static_cast<int32_t>(pos + kFurPayloadOffset);
        return pos + n + kFurOverhead;
    }
    return data[count - 1] == kFurSync0 ? count - 1 : count;
}
