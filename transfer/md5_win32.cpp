#include "transfer/md5.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <stdexcept>

namespace transfer {

namespace {
// One algorithm provider for the process; CNG providers are thread-safe and costly to open.
BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
            return BCRYPT_ALG_HANDLE{nullptr};
        }
        return h;
    }();
    if (!provider) throw std::runtime_error("MD5 is not available");
    return provider;
}

BCRYPT_HASH_HANDLE Begin() {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error("MD5 is not available");
    }
    return hash;
}
}  // namespace

struct Md5Hasher::Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Context() {
        if (hash) BCryptDestroyHash(hash);
    }
};

Md5Hasher::Md5Hasher() : ctx_(std::make_unique<Context>()) {
    ctx_->hash = Begin();
}

Md5Hasher::~Md5Hasher() = default;

void Md5Hasher::Update(std::span<const uint8_t> bytes) {
    // BCryptHashData takes a 32-bit length.
    constexpr size_t kPiece = 1u << 30;
    while (!bytes.empty()) {
        const size_t n = bytes.size() < kPiece ? bytes.size() : kPiece;
        if (!BCRYPT_SUCCESS(BCryptHashData(ctx_->hash, const_cast<PUCHAR>(bytes.data()),
                                           static_cast<ULONG>(n), 0))) {
            throw std::runtime_error("MD5 update failed");
        }
        bytes = bytes.subspan(n);
    }
}

Md5Digest Md5Hasher::Final() {
    Md5Digest digest{};
    if (!BCRYPT_SUCCESS(BCryptFinishHash(ctx_->hash, digest.data(), digest.size(), 0))) {
        throw std::runtime_error("MD5 final failed");
    }
    // A finished CNG hash cannot be reused: start a new one.
    BCryptDestroyHash(ctx_->hash);
    ctx_->hash = nullptr;
    ctx_->hash = Begin();
    return digest;
}

Md5Digest Md5(std::span<const uint8_t> bytes) {
    Md5Hasher hasher;
    hasher.Update(bytes);
    return hasher.Final();
}

}  // namespace transfer
