#pragma once
// MD5 digests of packed-file payloads (libcrypto EVP on Linux, CNG on Windows).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace transfer {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental digest, for payloads that arrive in pieces.
class Md5Hasher {
public:
    Md5Hasher();
    ~Md5Hasher();
    Md5Hasher(const Md5Hasher&) = delete;
    Md5Hasher& operator=(const Md5Hasher&) = delete;

    void Update(std::span<const uint8_t> bytes);
    // Ends the digest; the hasher starts afresh afterwards.
    Md5Digest Final();

private:
    struct Context;
    std::unique_ptr<Context> ctx_;
};

Md5Digest Md5(std::span<const uint8_t> bytes);

}  // namespace transfer
