#include "transfer/packed_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/scratch_file.h"
#include "transfer/gzip_stream.h"
#include "transfer/md5.h"

namespace transfer {

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kFirstCapacity = 64 * 1024;

// Reads until `count` bytes arrived or the stream ended; returns how many arrived.
size_t ReadFully(platform::ByteStream& stream, uint8_t* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        int32_t n =
            stream.Read(buffer, static_cast<int32_t>(got), static_cast<int32_t>(count - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

PackedHeader Fail(PackedHeader header, PackedHeaderStatus status) {
    header.status = status;
    header.subHeader.clear();
    header.gzipOffset = 0;
    return header;
}

}  // namespace

std::string PackedHeader::VersionText() const {
    if (subHeader.size() <= 8) return {};
    auto begin = subHeader.begin() + 8;
    auto end = std::find(begin, subHeader.end(), uint8_t{0});
    return std::string(begin, end);
}

int64_t UnpackLimit(int64_t packedFileLength) {
    constexpr int64_t kMaxLength = std::numeric_limits<int64_t>::max() / 100;
    int64_t length = std::clamp<int64_t>(packedFileLength, 0, kMaxLength);
    return std::max<int64_t>(0, 100 * length - 100);
}

PackedHeader ReadPackedHeader(platform::ByteStream& stream, int64_t fileLength,
                              const PackedFileRules& rules) {
    PackedHeader header;
    header.fileLength = fileLength;
    try {
        if (rules.maxFileLength >= 0 && fileLength > rules.maxFileLength) {
            return Fail(header, PackedHeaderStatus::TooLarge);
        }
        uint8_t fixed[2];
        if (ReadFully(stream, fixed, 2) < 2 || fixed[0] != kPackedMagic0 ||
            fixed[1] != kPackedMagic1) {
            return Fail(header, PackedHeaderStatus::BadPreamble);
        }
        if (ReadFully(stream, fixed, 2) < 2)
            return Fail(header, PackedHeaderStatus::TruncatedHeader);
        size_t length = static_cast<size_t>(fixed[0]) * 256 + fixed[1];
        if (rules.requireSubHeader && length < 1) {
            return Fail(header, PackedHeaderStatus::NoSubHeader);
        }
        header.subHeader.resize(length);
        if (ReadFully(stream, header.subHeader.data(), length) < length) {
            return Fail(header, PackedHeaderStatus::TruncatedHeader);
        }
        if (rules.packageType >= 0 && header.PackageType() != rules.packageType) {
            return Fail(header, PackedHeaderStatus::WrongPackageType);
        }
        header.gzipOffset = 4 + static_cast<int64_t>(length);
        header.status = PackedHeaderStatus::Ok;
        return header;
    } catch (const platform::StreamError& e) {
        header.error = e.what();
        return Fail(header, PackedHeaderStatus::CannotOpen);
    }
}

PackedHeader ReadPackedHeader(const std::string& path, const PackedFileRules& rules) {
    try {
        platform::FileStream file(path);
        return ReadPackedHeader(file, file.Length(), rules);
    } catch (const platform::StreamError& e) {
        PackedHeader header;
        header.error = e.what();
        return header;
    }
}

UnpackResult ScanPackedContent(platform::ByteStream& gzipSource, int64_t packedFileLength,
                               const PayloadSink& sink) {
    UnpackResult result;
    // One byte past the limit is read to tell "exactly at the limit" from "over it".
    const uint64_t cap = static_cast<uint64_t>(UnpackLimit(packedFileLength)) + 1;
    uint64_t content = 0;
    try {
        GZipInputStream gzip(gzipSource);
        size_t want = static_cast<size_t>(std::min<uint64_t>(kPackedDigestSize, cap));
        size_t got = ReadFully(gzip, result.storedDigest.data(), want);
        content = got;
        Md5Hasher hasher;
        if (got == kPackedDigestSize) {
            std::vector<uint8_t> chunk(kReadChunk);
            while (content < cap) {
                const size_t ask =
                    static_cast<size_t>(std::min<uint64_t>(kReadChunk, cap - content));
                const int32_t n = gzip.Read(chunk.data(), 0, static_cast<int32_t>(ask));
                if (n <= 0) break;
                const std::span<const uint8_t> piece(chunk.data(), static_cast<size_t>(n));
                content += static_cast<uint64_t>(n);
                if (content >= cap) break;  // over the limit: nothing more is passed on
                hasher.Update(piece);
                if (sink) sink(piece);
            }
        }
        result.contentLength = static_cast<int64_t>(content);
        if (content >= cap) {
            result.status = UnpackStatus::OverLimit;
        } else if (content < kPackedDigestSize) {
            result.status = UnpackStatus::NoDigest;
        } else if (hasher.Final() != result.storedDigest) {
            result.status = UnpackStatus::DigestMismatch;
        } else {
            result.status = UnpackStatus::Ok;
            result.trailingData = gzip.HasTrailingData();
        }
    } catch (const platform::InvalidDataError& e) {
        result.status = UnpackStatus::CorruptData;
        result.error = e.what();
    } catch (const platform::StreamError& e) {
        result.status = UnpackStatus::ReadError;
        result.error = e.what();
    } catch (const std::bad_alloc&) {
        result.status = UnpackStatus::ReadError;
        result.error = "not enough memory to unpack the file";
    }
    return result;
}

UnpackResult UnpackPackedContent(platform::ByteStream& gzipSource, int64_t packedFileLength) {
    std::vector<uint8_t> payload;
    UnpackResult result;
    try {
        result = ScanPackedContent(gzipSource, packedFileLength, [&payload](auto piece) {
            if (payload.capacity() < payload.size() + piece.size()) {
                payload.reserve(
                    std::max({payload.size() * 2, payload.size() + piece.size(), kFirstCapacity}));
            }
            payload.insert(payload.end(), piece.begin(), piece.end());
        });
    } catch (const std::bad_alloc&) {
        result = UnpackResult{};
        result.status = UnpackStatus::ReadError;
        result.error = "not enough memory to unpack the file";
    }
    if (result.ok()) result.payload = std::move(payload);
    return result;
}

PackedFile ReadPackedFile(const std::string& path, const PackedFileRules& rules) {
    PackedFile packed;
    try {
        platform::FileStream file(path);
        packed.header = ReadPackedHeader(file, file.Length(), rules);
        if (packed.header.ok()) packed.content = UnpackPackedContent(file, file.Length());
    } catch (const platform::StreamError& e) {
        packed.header = PackedHeader{};
        packed.header.error = e.what();
    }
    return packed;
}

PackedFile ScanPackedFile(const std::string& path, const PackedFileRules& rules,
                          const PayloadSink& sink) {
    PackedFile packed;
    try {
        platform::FileStream file(path);
        packed.header = ReadPackedHeader(file, file.Length(), rules);
        if (packed.header.ok()) packed.content = ScanPackedContent(file, file.Length(), sink);
    } catch (const platform::StreamError& e) {
        packed.header = PackedHeader{};
        packed.header.error = e.what();
    }
    return packed;
}

PackedFile UnpackPackedFileInto(const std::string& path, const PackedFileRules& rules,
                                platform::OutputFile& out) {
    std::FILE* scratch = out.InPlace() ? platform::OpenScratchFile() : nullptr;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closeScratch(
        scratch, [](std::FILE* f) { return f ? std::fclose(f) : 0; });
    std::FILE* sink = scratch ? scratch : out.Stream();
    std::string writeError;
    const PackedFile packed = ScanPackedFile(path, rules, [&](std::span<const uint8_t> piece) {
        if (writeError.empty() &&
            std::fwrite(piece.data(), 1, piece.size(), sink) != piece.size()) {
            writeError = scratch ? std::string("cannot write the scratch file: ")
                                 : "cannot write " + out.Target() + ": ";
            writeError += std::strerror(errno);
        }
    });
    if (!packed.ok()) return packed;
    if (!writeError.empty()) throw platform::StreamError(writeError);
    if (scratch) {
        // Verified: now the bytes may leave.
        if (std::fflush(scratch) != 0 || std::fseek(scratch, 0, SEEK_SET) != 0) {
            throw platform::StreamError(std::string("cannot read the scratch file back: ") +
                                        std::strerror(errno));
        }
        std::vector<uint8_t> chunk(kReadChunk);
        while (const size_t n = std::fread(chunk.data(), 1, chunk.size(), scratch)) {
            if (std::fwrite(chunk.data(), 1, n, out.Stream()) != n) {
                throw platform::StreamError("cannot write " + out.Target() + ": " +
                                            std::strerror(errno));
            }
        }
        if (std::ferror(scratch)) {
            throw platform::StreamError(std::string("cannot read the scratch file back: ") +
                                        std::strerror(errno));
        }
    }
    return packed;
}

const char* Describe(PackedHeaderStatus status) {
    switch (status) {
        case PackedHeaderStatus::Ok:
            return "packed file header is valid";
        case PackedHeaderStatus::CannotOpen:
            return "cannot open the packed file";
        case PackedHeaderStatus::TooLarge:
            return "packed file is too large";
        case PackedHeaderStatus::BadPreamble:
            return "not a packed file (it does not begin with 0A 11)";
        case PackedHeaderStatus::TruncatedHeader:
            return "packed file ends inside its header";
        case PackedHeaderStatus::NoSubHeader:
            return "packed file has no sub-header";
        case PackedHeaderStatus::WrongPackageType:
            return "packed file has the wrong package type";
    }
    return "unknown packed file status";
}

const char* Describe(UnpackStatus status) {
    switch (status) {
        case UnpackStatus::Ok:
            return "payload matches its digest";
        case UnpackStatus::DigestMismatch:
            return "payload does not match its MD5 digest";
        case UnpackStatus::NoDigest:
            return "packed content is shorter than its 16-byte digest";
        case UnpackStatus::OverLimit:
            return "unpacked content exceeds 100 times the packed file's length";
        case UnpackStatus::CorruptData:
            return "gzip data is corrupt or truncated";
        case UnpackStatus::ReadError:
            return "packed file could not be read";
    }
    return "unknown unpack status";
}

}  // namespace transfer
