// Random bytes as a packed file through the shared reader: header checks, then unpacking with
// the limit of 100 times the input's length. Nothing may crash or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/byte_stream.h"
#include "transfer/packed_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const int64_t length = static_cast<int64_t>(size);
    for (const auto& rules :
         {transfer::PackedFileRules::Unpacking(), transfer::PackedFileRules::FirmwareByFrames()}) {
        platform::MemoryStream stream(bytes);
        const transfer::PackedHeader header = transfer::ReadPackedHeader(stream, length, rules);
        if (!header.ok()) continue;
        if (header.gzipOffset > length) __builtin_trap();
        const transfer::UnpackResult content = transfer::UnpackPackedContent(stream, length);
        if (content.contentLength > transfer::UnpackLimit(length) + 1) __builtin_trap();
        if (!content.ok() && !content.payload.empty()) __builtin_trap();
        if (content.ok() &&
            content.payload.size() + 16 != static_cast<size_t>(content.contentLength)) {
            __builtin_trap();
        }
        (void)header.VersionText();
    }
    return 0;
}
