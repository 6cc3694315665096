#pragma once
// What `caddora-cli info` tells about a packed file, as text lines or one JSON object.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/packed_file.h"

namespace cli {

struct FirmwareImageInfo {
    uint32_t bootCodeOffset = 0;
    uint32_t referenceClock = 0;
    bool headerCrcValid = false;
    int64_t firmwareSize = 0;
};

struct PackedInfo {
    std::string file;
    int64_t packedSize = 0;
    int packageType = -1;
    std::vector<uint8_t> subHeader;
    std::string versionText;
    std::optional<int64_t> payloadSize;  // known when the whole content was read
    std::vector<uint8_t> digest;         // stored digest, when there is one
    transfer::UnpackStatus status = transfer::UnpackStatus::ReadError;
    std::string problem;  // empty when the digest matches
    std::optional<FirmwareImageInfo> firmware;
};

// How much of the payload's start DescribePackedFile needs to recognise a firmware image.
inline constexpr size_t kInfoPayloadStart = 65536;

// From a file whose header was read successfully; `payloadStart` holds the payload's first
// bytes (up to kInfoPayloadStart), the content itself is not needed.
PackedInfo DescribePackedFile(const std::string& path, const transfer::PackedFile& packed,
                              const std::vector<uint8_t>& payloadStart);

void PrintText(std::ostream& out, const PackedInfo& info);
void PrintJson(std::ostream& out, const PackedInfo& info);

}  // namespace cli
