#pragma once
// Streaming gzip (RFC 1952) decompressor over another byte stream or a C file.
//
// Reading starts at the source's current position and inflates in bounded memory (one input
// buffer plus zlib's window), so callers can pull a large file through it chunk by chunk.
// Members that follow each other are decoded as one stream, as the gzip tool does. Bytes
// after the last member that do not start another member are ignored and left unread by the
// caller (zlib may have buffered some of them). Corrupt data, a bad trailer (CRC or length)
// and a stream that ends inside a member throw platform::InvalidDataError; an empty source is
// a stream that ends before its first member.
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/byte_stream.h"

namespace transfer {

class GZipInputStream : public platform::ByteStream {
public:
    // Reads from `source`, which must outlive this object.
    explicit GZipInputStream(platform::ByteStream& source);
    // Reads from `source` and closes it with this object.
    explicit GZipInputStream(std::unique_ptr<platform::ByteStream> source);
    // Reads from `file` (not closed by this object) at its current position.
    explicit GZipInputStream(std::FILE* file);
    ~GZipInputStream() override;
    GZipInputStream(const GZipInputStream&) = delete;
    GZipInputStream& operator=(const GZipInputStream&) = delete;

    // Inflated bytes into buffer[offset...]; 0 only at the end of the data.
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override;

    // Releases the decompressor and an owned source; later reads fail.
    void Close();

    // After the end of the data: whether bytes follow that start no further gzip member.
    bool HasTrailingData();

    // Compressed bytes consumed and inflated bytes produced so far.
    int64_t TotalIn() const { return totalIn_; }
    int64_t TotalOut() const { return totalOut_; }

private:
    struct Inflater;
    void Init();
    size_t FillInput();
    bool NextMemberFollows();

    platform::ByteStream* source_ = nullptr;
    std::unique_ptr<platform::ByteStream> ownedSource_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<Inflater> z_;
    std::vector<uint8_t> in_;
    bool sourceEnded_ = false;
    bool finished_ = false;
    int64_t totalIn_ = 0;
    int64_t totalOut_ = 0;
};

}  // namespace transfer
