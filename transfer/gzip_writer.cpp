#include "transfer/gzip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "platform/byte_stream.h"

namespace transfer {

namespace {
constexpr size_t kOutputBufferSize = 64 * 1024;
constexpr size_t kMaxPiece = 1u << 30;  // zlib counts in 32-bit units
}  // namespace

struct GZipWriter::Deflater {
    z_stream z{};
    bool ready = false;
    ~Deflater() {
        if (ready) deflateEnd(&z);
    }
};

GZipWriter::GZipWriter(std::FILE* out, int level)
    : out_(out), z_(std::make_unique<Deflater>()), buffer_(kOutputBufferSize) {
    if (!out_) throw platform::StreamError("gzip writer without a file");
    // 16 + window bits: a gzip header and trailer around the deflate data.
    int ret = deflateInit2(&z_->z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (ret == Z_MEM_ERROR) throw std::bad_alloc();
    if (ret != Z_OK) throw platform::StreamError("cannot start the gzip compressor");
    z_->ready = true;
}

GZipWriter::~GZipWriter() = default;

void GZipWriter::Pump(int flush) {
    z_stream& z = z_->z;
    int ret;
    do {
        z.next_out = buffer_.data();
        z.avail_out = static_cast<uInt>(buffer_.size());
        ret = deflate(&z, flush);
        if (ret == Z_STREAM_ERROR) throw platform::StreamError("gzip compressor failed");
        size_t have = buffer_.size() - z.avail_out;
        if (have > 0 && std::fwrite(buffer_.data(), 1, have, out_) != have) {
            throw platform::StreamError(std::string("cannot write the packed file: ") +
                                        std::strerror(errno));
        }
    } while (z.avail_out == 0 || (flush == Z_FINISH && ret != Z_STREAM_END));
}

void GZipWriter::Write(std::span<const uint8_t> bytes) {
    if (finished_) throw platform::StreamError("write after the end of the gzip stream");
    while (!bytes.empty()) {
        size_t piece = std::min(bytes.size(), kMaxPiece);
        z_->z.next_in = const_cast<Bytef*>(bytes.data());
        z_->z.avail_in = static_cast<uInt>(piece);
        Pump(Z_NO_FLUSH);
        bytes = bytes.subspan(piece);
    }
}

void GZipWriter::Finish() {
    if (finished_) return;
    z_->z.next_in = nullptr;
    z_->z.avail_in = 0;
    Pump(Z_FINISH);
    finished_ = true;
}

}  // namespace transfer
