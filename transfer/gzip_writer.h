#pragma once
// Writes one gzip (RFC 1952) member to a C file as the data arrives.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace transfer {

class GZipWriter {
public:
    // `level` as zlib counts it; -1 is zlib's default setting. The file is not closed here.
    explicit GZipWriter(std::FILE* out, int level = -1);
    ~GZipWriter();
    GZipWriter(const GZipWriter&) = delete;
    GZipWriter& operator=(const GZipWriter&) = delete;

    // Throw platform::StreamError when the file cannot be written.
    void Write(std::span<const uint8_t> bytes);
    // Flushes what is pending and writes the trailer; no writes afterwards.
    void Finish();

private:
    struct Deflater;
    void Pump(int flush);

    std::FILE* out_;
    std::unique_ptr<Deflater> z_;
    std::vector<uint8_t> buffer_;
    bool finished_ = false;
};

}  // namespace transfer
