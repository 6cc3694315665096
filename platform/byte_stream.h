#pragma once
// Minimal readable byte streams: files, memory, and (in transfer/) gzip decompressors share
// this interface so that the job code reads them all the same way.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// An input/output failure of a stream (file access, a closed device).
class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stream's content is malformed (for example corrupt gzip data).
class InvalidDataError : public StreamError {
public:
    using StreamError::StreamError;
};

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Copies up to `count` bytes into buffer[offset...] and returns how many; 0 only at the end
    // of the stream. Throws StreamError (or InvalidDataError) on failure.
    virtual int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) = 0;
};

// A file opened for reading (others may read it meanwhile).
class FileStream : public ByteStream {
public:
    // Throws StreamError when the file cannot be opened.
    explicit FileStream(const std::string& path);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override;
    int64_t Length() const { return length_; }
    int64_t Position() const;
    void Seek(int64_t position);
    const std::string& Path() const { return path_; }
    void Close();

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    int64_t length_ = 0;
};

// Reads from a byte vector it owns.
class MemoryStream : public ByteStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}

    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override;
    int64_t Length() const { return static_cast<int64_t>(data_.size()); }
    int64_t Position() const { return static_cast<int64_t>(position_); }
    void Seek(int64_t position);
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
    size_t position_ = 0;
};

}  // namespace platform
