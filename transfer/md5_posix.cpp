#include "transfer/md5.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace transfer {

struct Md5Hasher::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

namespace {
void Begin(EVP_MD_CTX* md) {
    if (EVP_DigestInit_ex(md, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("MD5 is not available");
    }
}
}  // namespace

Md5Hasher::Md5Hasher() : ctx_(std::make_unique<Context>()) {
    ctx_->md = EVP_MD_CTX_new();
    if (!ctx_->md) throw std::bad_alloc();
    Begin(ctx_->md);
}

Md5Hasher::~Md5Hasher() = default;

void Md5Hasher::Update(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    if (EVP_DigestUpdate(ctx_->md, bytes.data(), bytes.size()) != 1) {
        throw std::runtime_error("MD5 update failed");
    }
}

Md5Digest Md5Hasher::Final() {
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_->md, digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("MD5 final failed");
    }
    Begin(ctx_->md);
    return digest;
}

Md5Digest Md5(std::span<const uint8_t> bytes) {
    Md5Hasher hasher;
    hasher.Update(bytes);
    return hasher.Final();
}

}  // namespace transfer
