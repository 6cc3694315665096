// Random bytes into the virtual navigator's device model: it must never crash, never hold more
// than one frame's worth of unparsed input, never store or journal more than it was given, and
// every reply it makes must carry a well-formed frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/fur_codec.h"
#include "sim/device_model.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// True when `bytes` ends in one complete, well-formed frame (noise may precede it).
bool EndsInFrame(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kFurOverhead) return false;
    for (size_t start = 0; start + kFurOverhead <= bytes.size(); ++start) {
        if (bytes[start] != kFurSync0 || bytes[start + 1] != kFurSync1) continue;
        FUR_DATA r{};
        uint32_t used =
            parsefur(bytes.data() + start, static_cast<uint32_t>(bytes.size() - start), &r);
        if (start + used == bytes.size() &&
            (r.status == PARSE_OK || r.status == PARSE_UNKNOWN_CMD)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t setup = data[0];
    const uint8_t chunking = data[1];
    data += 2;
    size -= 2;

    sim::DeviceConfig config;
    config.mode = static_cast<sim::DeviceMode>(setup % 3);
    config.flashSize = 64 * 1024;  // smaller than the real chip: faster runs, same rules
    if (setup & 0x04) config.faults.nakFrames = {2, 5};
    if (setup & 0x08) config.faults.silentAfter = 7;
    if (setup & 0x10) config.faults.noiseBytes = 9;
    if (setup & 0x20) config.faults.vanishAfter = 11;
    if (setup & 0x40) config.journalPayloadLimit = 100;
    sim::DeviceModel model(config);

    // Feed in pieces so frames are cut at arbitrary places.
    const size_t step = 1 + chunking % 64;
    size_t fed = 0;
    for (size_t pos = 0; pos < size; pos += step) {
        const size_t n = std::min(step, size - pos);
        sim::FeedResult result = model.Feed({data + pos, n});
        fed += n;
        Check(model.PendingBytes() <= kFurMaxFrame);
        Check(model.WrittenMemory().ByteCount() <= fed);
        for (const sim::Reply& reply : result.replies) Check(EndsInFrame(reply.bytes));
        if (model.Vanished()) Check(model.Feed({data, size}).replies.empty());
    }
    size_t journalBytes = 0;
    for (const sim::JournalEntry& e : model.Journal()) {
        Check(e.payload.size() == e.payloadLength || e.payloadDropped);
        journalBytes += e.payload.size();
    }
    Check(journalBytes <= fed);
    Check(model.Journal().size() == model.FramesReceived());
    return 0;
}
