#pragma once
// The one reader of packed update files (".ckfm"): preamble 0x0A 0x11, a big-endian sub-header
// length L, L sub-header bytes (byte 0 is the package type), then one gzip stream whose content
// is a 16-byte MD5 digest followed by the payload. Every job that reads such files goes through
// here, so the checks and limits live in one place; each job maps the results to its messages.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_stream.h"
#include "platform/output_file.h"
#include "transfer/md5.h"

namespace transfer {

inline constexpr uint8_t kPackedMagic0 = 0x0A;
inline constexpr uint8_t kPackedMagic1 = 0x11;
inline constexpr size_t kPackedDigestSize = 16;
// Package types in sub-header byte 0.
inline constexpr int kPackageTypeFrames = 2;
inline constexpr int kPackageTypeYmodem = 3;
// The firmware job refuses larger packed files before reading them.
inline constexpr int64_t kMaxFirmwarePackedLength = 10485760;

// Which checks a reader applies to the header.
struct PackedFileRules {
    bool requireSubHeader = false;  // L must be at least 1
    int packageType = -1;           // required sub-header byte 0; -1 accepts any
    int64_t maxFileLength = -1;     // -1: no limit

    // GZipDecompress and the command line: only the preamble is required.
    static PackedFileRules Unpacking() { return {}; }
    static PackedFileRules FirmwareByFrames() {
        return {true, kPackageTypeFrames, kMaxFirmwarePackedLength};
    }
    static PackedFileRules FirmwareByYmodem() { return {false, kPackageTypeYmodem, -1}; }
    static PackedFileRules CourseData() { return {true, kPackageTypeFrames, -1}; }
};

enum class PackedHeaderStatus {
    Ok,
    CannotOpen,        // missing or unreadable file (text in `error`)
    TooLarge,          // longer than the rules' maxFileLength
    BadPreamble,       // does not begin with 0x0A 0x11 (a file of 0 or 1 byte included)
    TruncatedHeader,   // ends inside the length field or the sub-header
    NoSubHeader,       // L is 0 where the rules require a sub-header
    WrongPackageType,  // sub-header byte 0 is not the required type
};

struct PackedHeader {
    PackedHeaderStatus status = PackedHeaderStatus::CannotOpen;
    std::string error;
    int64_t fileLength = 0;
    std::vector<uint8_t> subHeader;
    int64_t gzipOffset = 0;  // 4 + L: where the gzip stream starts

    bool ok() const { return status == PackedHeaderStatus::Ok; }
    // Sub-header byte 0, or -1 when the sub-header is empty.
    int PackageType() const { return subHeader.empty() ? -1 : subHeader[0]; }
    // Sub-header bytes 8 onward as UTF-8, cut at the first NUL; empty when absent.
    std::string VersionText() const;
};

enum class UnpackStatus {
    Ok,
    DigestMismatch,  // the stored digest is not the MD5 of the payload
    NoDigest,        // content shorter than 16 bytes
    OverLimit,       // content longer than UnpackLimit(packed file length)
    CorruptData,     // corrupt or truncated gzip stream
    ReadError,       // the file could not be read
};

struct UnpackResult {
    UnpackStatus status = UnpackStatus::ReadError;
    std::string error;             // for CorruptData and ReadError
    Md5Digest storedDigest{};      // valid when contentLength >= 16
    std::vector<uint8_t> payload;  // the content after the digest; kept only when Ok
    int64_t contentLength = 0;     // bytes inflated (at most the limit + 1)
    bool trailingData = false;     // bytes after the gzip stream that start no gzip member

    bool ok() const { return status == UnpackStatus::Ok; }
    // Failures that a job reports as a bad checksum: the file holds no valid digest.
    bool IsChecksumFailure() const {
        return status == UnpackStatus::DigestMismatch || status == UnpackStatus::NoDigest;
    }
};

// Largest content (digest + payload) accepted from a packed file of this length: what a buffer
// of 100 times the file's length holds when read 100 bytes at a time.
int64_t UnpackLimit(int64_t packedFileLength);

// Reads and checks the header from the stream's current position (the file's start).
// `fileLength` is the whole file's length, used for the size rule. When Ok the stream is
// positioned at the gzip stream.
PackedHeader ReadPackedHeader(platform::ByteStream& stream, int64_t fileLength,
                              const PackedFileRules& rules);
// Opens `path`, reads and checks its header and closes it again.
PackedHeader ReadPackedHeader(const std::string& path, const PackedFileRules& rules);

// Inflates the gzip stream from the source's current position, splits off the digest and
// verifies it. Memory grows with the content, never beyond the limit + 1 bytes.
UnpackResult UnpackPackedContent(platform::ByteStream& gzipSource, int64_t packedFileLength);

// The same checks in bounded memory: the payload goes piece by piece to `sink` (when given)
// and is not kept. Whatever the sink received is only good when the result is Ok.
using PayloadSink = std::function<void(std::span<const uint8_t>)>;
UnpackResult ScanPackedContent(platform::ByteStream& gzipSource, int64_t packedFileLength,
                               const PayloadSink& sink = {});

// Header and content of one file; `content` is meaningful only when `header.ok()`.
struct PackedFile {
    PackedHeader header;
    UnpackResult content;
    bool ok() const { return header.ok() && content.ok(); }
};
PackedFile ReadPackedFile(const std::string& path, const PackedFileRules& rules);
// Header and content checks of one file in bounded memory; `content.payload` stays empty.
PackedFile ScanPackedFile(const std::string& path, const PackedFileRules& rules,
                          const PayloadSink& sink = {});

// Writes the payload of the packed file at `path` into `out`, which the caller commits when the
// result is ok. An output replaced on Commit takes the bytes as they come; one written in place
// (a pipe, a device, the standard output) gets none before the whole digest has matched: until
// then they wait in a scratch file. Throws StreamError when the payload cannot be written.
PackedFile UnpackPackedFileInto(const std::string& path, const PackedFileRules& rules,
                                platform::OutputFile& out);

// Short English descriptions for console lines and the command line.
const char* Describe(PackedHeaderStatus status);
const char* Describe(UnpackStatus status);

}  // namespace transfer
