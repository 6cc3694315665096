#include "platform/byte_stream.h"

#include <cerrno>
#include <cstring>

#include "platform/utf8_paths.h"

namespace platform {

FileStream::FileStream(const std::string& path) : path_(path) {
    file_ = OpenFile(path, "rb");
    if (!file_) throw StreamError("cannot open " + path + ": " + std::strerror(errno));
    if (std::fseek(file_, 0, SEEK_END) != 0 || (length_ = std::ftell(file_)) < 0 ||
        std::fseek(file_, 0, SEEK_SET) != 0) {
        std::fclose(file_);
        file_ = nullptr;
        throw StreamError("cannot read " + path + ": not a regular file");
    }
}

FileStream::~FileStream() {
    Close();
}

void FileStream::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

int32_t FileStream::Read(uint8_t* buffer, int32_t offset, int32_t count) {
    if (!file_) throw StreamError("read from a closed file: " + path_);
    if (count <= 0 || offset < 0) return 0;
    size_t n = std::fread(buffer + offset, 1, static_cast<size_t>(count), file_);
    if (n == 0 && std::ferror(file_)) throw StreamError("cannot read " + path_);
    return static_cast<int32_t>(n);
}

int64_t FileStream::Position() const {
    return file_ ? std::ftell(file_) : 0;
}

void FileStream::Seek(int64_t position) {
    if (!file_ || std::fseek(file_, static_cast<long>(position), SEEK_SET) != 0) {
        throw StreamError("cannot seek in " + path_);
    }
}

int32_t MemoryStream::Read(uint8_t* buffer, int32_t offset, int32_t count) {
    if (count <= 0 || offset < 0 || position_ >= data_.size()) return 0;
    size_t n = std::min(static_cast<size_t>(count), data_.size() - position_);
    std::memcpy(buffer + offset, data_.data() + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
}

void MemoryStream::Seek(int64_t position) {
    if (position < 0) position = 0;
    position_ = std::min(static_cast<size_t>(position), data_.size());
}

}  // namespace platform
