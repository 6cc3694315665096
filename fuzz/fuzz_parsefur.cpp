// Feeds arbitrary bytes to parsefur the way a receiver does: parse, drop what it returns, parse
// the rest. Checks that it never claims more than it was given, always makes progress unless
// what is left could be the start of a frame, and reports payloads inside the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/fur_codec.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// True when `rest` (what parsefur left at the front) may still grow into a frame.
bool MayStartFrame(const uint8_t* rest, uint32_t count) {
    if (count == 1) return rest[0] == kFurSync0;
    if (rest[0] != kFurSync0 || rest[1] != kFurSync1) return false;
    if (count < kFurOverhead) return true;
    const uint32_t n = rest[4] | rest[5] << 8;
    return n + kFurOverhead <= kFurMaxFrame && count < n + kFurOverhead;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy on the heap, so reads past the end are caught by the address sanitizer.
    std::vector<uint8_t> buffer(data, data + size);
    const uint8_t* p = buffer.data();
    size_t left = buffer.size();
    while (left > 0) {
        const uint32_t count = static_cast<uint32_t>(left > UINT32_MAX ? UINT32_MAX : left);
        FUR_DATA result{PARSE_OK, static_cast<FUR_CMD_NAME>(-1), 0, 0};
        const uint32_t used = parsefur(p, count, &result);
        Check(used <= count && used <= kFurMaxParseCount);
        Check(result.status >= PARSE_OK && result.status <= PARSE_NO_FRAME);
        if (result.status == PARSE_OK || result.status == PARSE_UNKNOWN_CMD ||
            result.status == PARSE_BAD_CHECKSUM) {
            Check(result.payloadOffset >= 6 && result.payloadLength >= 0);
            const uint64_t end = static_cast<uint64_t>(result.payloadOffset) +
                                 static_cast<uint64_t>(result.payloadLength);
            Check(end + 2 == used);  // the frame found is exactly what was consumed
            Check(end <= count);
        }
        if (result.status == PARSE_OK) {
            Check(IsFurCmd(result.command));
            std::span<const uint8_t> payload = FurPayload({p, count}, result);
            Check(payload.size() == static_cast<size_t>(result.payloadLength));
        } else {
            Check(result.command == -1);  // written only for a decoded frame
        }
        if (used == 0) {
            Check(MayStartFrame(p, count));
            break;
        }
        p += used;
        left -= used;
    }
    return 0;
}
