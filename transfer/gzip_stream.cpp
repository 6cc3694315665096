#include "transfer/gzip_stream.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace transfer {

namespace {
constexpr size_t kInputBufferSize = 64 * 1024;
}

struct GZipInputStream::Inflater {
    z_stream z{};
    bool ready = false;
    ~Inflater() {
        if (ready) inflateEnd(&z);
    }
};

GZipInputStream::GZipInputStream(platform::ByteStream& source) : source_(&source) {
    Init();
}

GZipInputStream::GZipInputStream(std::unique_ptr<platform::ByteStream> source)
    : source_(source.get()), ownedSource_(std::move(source)) {
    if (!source_) throw platform::StreamError("gzip stream without a source");
    Init();
}

GZipInputStream::GZipInputStream(std::FILE* file) : file_(file) {
    if (!file_) throw platform::StreamError("gzip stream without a source");
    Init();
}

GZipInputStream::~GZipInputStream() = default;

void GZipInputStream::Init() {
    in_.resize(kInputBufferSize);
    z_ = std::make_unique<Inflater>();
    z_->z.next_in = in_.data();
    z_->z.avail_in = 0;
    // 16 + window bits: gzip wrapper only, no zlib or raw streams.
    int ret = inflateInit2(&z_->z, 16 + MAX_WBITS);
    if (ret == Z_MEM_ERROR) throw std::bad_alloc();
    if (ret != Z_OK) throw platform::StreamError("cannot start the gzip decompressor");
    z_->ready = true;
}

void GZipInputStream::Close() {
    z_.reset();
    ownedSource_.reset();
    source_ = nullptr;
    file_ = nullptr;
    in_.clear();
    in_.shrink_to_fit();
}

// Keeps the unread input at the front of the buffer and appends what the source gives.
size_t GZipInputStream::FillInput() {
    if (sourceEnded_) return 0;
    z_stream& z = z_->z;
    size_t have = z.avail_in;
    if (have > 0 && z.next_in != in_.data()) std::memmove(in_.data(), z.next_in, have);
    z.next_in = in_.data();
    size_t room = in_.size() - have;
    size_t got = 0;
    if (file_) {
        got = std::fread(in_.data() + have, 1, room, file_);
        if (got == 0 && std::ferror(file_)) {
            throw platform::StreamError(std::string("cannot read gzip data: ") +
                                        std::strerror(errno));
        }
    } else {
        int32_t n =
            source_->Read(in_.data(), static_cast<int32_t>(have), static_cast<int32_t>(room));
        got = n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (got == 0) sourceEnded_ = true;
    z.avail_in = static_cast<uInt>(have + got);
    return got;
}

bool GZipInputStream::NextMemberFollows() {
    z_stream& z = z_->z;
    while (z.avail_in < 2 && FillInput() > 0) {
    }
    return z.avail_in >= 2 && z.next_in[0] == 0x1F && z.next_in[1] == 0x8B;
}

bool GZipInputStream::HasTrailingData() {
    if (!z_ || !finished_) return false;
    return z_->z.avail_in > 0 || FillInput() > 0;
}

int32_t GZipInputStream::Read(uint8_t* buffer, int32_t offset, int32_t count) {
    if (!z_) throw platform::StreamError("read from a closed gzip stream");
    if (finished_ || count <= 0 || offset < 0) return 0;
    z_stream& z = z_->z;
    z.next_out = buffer + offset;
    z.avail_out = static_cast<uInt>(count);
    int32_t produced = 0;
    while (produced == 0 && !finished_) {
        if (z.avail_in == 0 && FillInput() == 0) {
            throw platform::InvalidDataError("gzip data ends before the end of its stream");
        }
        uInt inBefore = z.avail_in;
        uInt outBefore = z.avail_out;
        int ret = inflate(&z, Z_NO_FLUSH);
        totalIn_ += inBefore - z.avail_in;
        produced += static_cast<int32_t>(outBefore - z.avail_out);
        switch (ret) {
            case Z_OK:
            case Z_BUF_ERROR:  // needs more input; the loop refills
                break;
            case Z_STREAM_END:
                if (NextMemberFollows()) {
                    inflateReset(&z);
                } else {
                    finished_ = true;
                }
                break;
            case Z_MEM_ERROR:
                throw std::bad_alloc();
            case Z_NEED_DICT:
            case Z_DATA_ERROR:
                throw platform::InvalidDataError(std::string("corrupt gzip data: ") +
                                                 (z.msg ? z.msg : "invalid stream"));
            default:
                throw platform::StreamError("gzip decompressor failed");
        }
    }
    totalOut_ += produced;
    return produced;
}

}  // namespace transfer
