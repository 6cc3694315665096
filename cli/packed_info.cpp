#include "cli/packed_info.h"

#include <cstdio>

#include "cli/hex_text.h"
#include "cli/json_line.h"
#include "platform/codepage.h"
#include "transfer/boot_block.h"

namespace cli {

namespace {

// Control characters would garble a terminal; show them as '?'.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return out;
}

const char* TypeName(int type) {
    switch (type) {
        case transfer::kPackageTypeFrames:
            return "frames";
        case transfer::kPackageTypeYmodem:
            return "YMODEM";
        case -1:
            return "none";
        default:
            return "unknown";
    }
}

std::optional<FirmwareImageInfo> FirmwareImage(const std::vector<uint8_t>& payloadStart,
                                               int64_t payloadSize) {
    if (payloadSize < static_cast<int64_t>(transfer::kFirmwareImageOffset) ||
        payloadStart.size() < 64) {
        return std::nullopt;
    }
    const auto header =
        transfer::BootBlockFromBytes(std::span<const uint8_t, 64>(payloadStart.data(), 64));
    if (header.magic != transfer::kBootBlockMagic) return std::nullopt;
    FirmwareImageInfo info;
    info.bootCodeOffset = header.bootCodeOffset;
    info.referenceClock = header.referenceClock;
    info.headerCrcValid = header.headerCrc == transfer::BootBlockHeaderCrc(header);
    info.firmwareSize = payloadSize - static_cast<int64_t>(transfer::kFirmwareImageOffset);
    return info;
}

}  // namespace

PackedInfo DescribePackedFile(const std::string& path, const transfer::PackedFile& packed,
                              const std::vector<uint8_t>& payloadStart) {
    PackedInfo info;
    info.file = path;
    info.packedSize = packed.header.fileLength;
    info.packageType = packed.header.PackageType();
    info.subHeader = packed.header.subHeader;
    // Broken UTF-8 becomes U+FFFD, so the text is safe in a terminal and in JSON.
    info.versionText = platform::Utf16ToUtf8(platform::Utf8ToUtf16(packed.header.VersionText()));
    const auto& content = packed.content;
    info.status = content.status;
    if (content.contentLength >= 16 &&
        (content.ok() || content.status == transfer::UnpackStatus::DigestMismatch)) {
        info.payloadSize = content.contentLength - 16;
        info.digest.assign(content.storedDigest.begin(), content.storedDigest.end());
    }
    if (!content.ok()) {
        info.problem = transfer::Describe(content.status);
        if (!content.error.empty()) info.problem += ": " + content.error;
    } else {
        info.firmware = FirmwareImage(payloadStart, content.contentLength - 16);
    }
    return info;
}

void PrintText(std::ostream& out, const PackedInfo& info) {
    out << "file:          " << Printable(info.file) << '\n';
    out << "packed size:   " << info.packedSize << " bytes\n";
    out << "package type:  ";
    if (info.packageType >= 0)
        out << info.packageType << " (" << TypeName(info.packageType) << ")\n";
    else
        out << "none (empty sub-header)\n";
    out << "sub-header:    " << (info.subHeader.empty() ? "(empty)" : ToHex(info.subHeader))
        << '\n';
    out << "version text:  " << (info.versionText.empty() ? "(none)" : Printable(info.versionText))
        << '\n';
    out << "payload size:  ";
    if (info.payloadSize)
        out << *info.payloadSize << " bytes\n";
    else
        out << "unknown\n";
    out << "digest:        ";
    if (info.problem.empty())
        out << "matches (" << ToHex(info.digest) << ")\n";
    else
        out << "FAILED: " << info.problem << '\n';
    if (info.firmware) {
        const auto& fw = *info.firmware;
        out << "firmware image: boot program at " << fw.bootCodeOffset << ", reference clock "
            << fw.referenceClock << " Hz, header checksum "
            << (fw.headerCrcValid ? "valid" : "INVALID") << ", firmware " << fw.firmwareSize
            << " bytes\n";
    }
}

void PrintJson(std::ostream& out, const PackedInfo& info) {
    out << "{\"file\":" << JsonString(info.file) << ",\"packedSize\":" << info.packedSize
        << ",\"packageType\":" << info.packageType
        << ",\"subHeader\":" << JsonString(ToHex(info.subHeader, ""))
        << ",\"versionText\":" << JsonString(info.versionText) << ",\"payloadSize\":";
    if (info.payloadSize)
        out << *info.payloadSize;
    else
        out << "null";
    out << ",\"digest\":" << JsonString(ToHex(info.digest, ""))
        << ",\"digestMatches\":" << (info.problem.empty() ? "true" : "false");
    if (!info.problem.empty()) out << ",\"problem\":" << JsonString(info.problem);
    if (info.firmware) {
        const auto& fw = *info.firmware;
        out << ",\"firmwareImage\":{\"bootCodeOffset\":" << fw.bootCodeOffset
            << ",\"referenceClock\":" << fw.referenceClock
            << ",\"headerCrcValid\":" << (fw.headerCrcValid ? "true" : "false")
            << ",\"firmwareSize\":" << fw.firmwareSize << "}";
    }
    out << "}\n";
}

}  // namespace cli
