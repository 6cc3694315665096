#include "protocol/frame_wait.h"

#include <algorithm>

#include "platform/tick.h"
#include "protocol/byte_wait.h"
#include "protocol/fur_codec.h"

std::optional<std::vector<uint8_t>> WaitForFramePayload(FIFOStream& buffer, FUR_CMD_NAME command,
                                                        uint32_t deadline) {
    std::vector<uint8_t> held;
    held.reserve(kFrameReadSize);
    for (;;) {
        const std::size_t fill = held.size();
        held.resize(fill + kFrameReadSize);
        const int32_t got = buffer.Read(held.data(), static_cast<int32_t>(fill), kFrameReadSize);
        held.resize(fill + static_cast<std::size_t>(std::max(got, 0)));
        if (got > 0) {
            // Decode every complete unit at the front; stop when a frame is still incomplete.
            while (!held.empty()) {
                FUR_DATA result{};
                result.status = PARSE_NO_FRAME;
                const uint32_t used =
                    parsefur(held.data(), static_cast<uint32_t>(held.size()), &result);
                if (used == 0) break;
                if (result.status == PARSE_OK && result.command == command) {
                    const auto payload =
                        FurPayload(std::span<const uint8_t>(held.data(), used), result);
                    return std::vector<uint8_t>(payload.begin(), payload.end());
                }
                held.erase(held.begin(), held.begin() + used);
            }
            if (held.size() > kFrameHoldLimit) {
                held.erase(held.begin(), held.end() - static_cast<std::ptrdiff_t>(kFrameHoldLimit));
            }
        }
        if (platform::TickReached(platform::TickCount(), deadline)) return std::nullopt;
        if (got <= 0 && !AwaitBytes(buffer, deadline)) return std::nullopt;  // the link is gone
    }
}
