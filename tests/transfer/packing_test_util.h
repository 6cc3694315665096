#pragma once
// Helpers for the packing tests: a scratch folder, file I/O, and packed files built with zlib
// and libcrypto directly rather than through the code under test.
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace packing_test {

using Bytes = std::vector<uint8_t>;

using TempDir = testsupport::ScratchDir;

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

inline std::array<uint8_t, 16> ReferenceMd5(const Bytes& data) {
    std::array<uint8_t, 16> out{};
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr);
    return out;
}

// One gzip member made by zlib at the given level.
inline Bytes Gzip(const Bytes& data, int level = Z_DEFAULT_COMPRESSION) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int ret = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (ret != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Preamble(const Bytes& subHeader) {
    // Sized first: GCC 12 at -O3 takes growing a four-byte vector for an out-of-bounds copy.
    Bytes out(4 + subHeader.size());
    out[0] = 0x0A;
    out[1] = 0x11;
    out[2] = static_cast<uint8_t>(subHeader.size() >> 8);
    out[3] = static_cast<uint8_t>(subHeader.size() & 0xFF);
    std::copy(subHeader.begin(), subHeader.end(), out.begin() + 4);
    return out;
}

// A packed file whose gzip content is exactly `content` (digest included by the caller).
inline Bytes PackRawContent(const Bytes& subHeader, const Bytes& content) {
    return Concat({Preamble(subHeader), Gzip(content)});
}

// A well-formed packed file for `payload`.
inline Bytes PackPayload(const Bytes& subHeader, const Bytes& payload) {
    auto digest = ReferenceMd5(payload);
    return PackRawContent(subHeader, Concat({Bytes(digest.begin(), digest.end()), payload}));
}

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Runs a shell command; returns its exit status (-1 when it did not exit normally).
inline int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) {
    return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

}  // namespace packing_test

namespace packing_test {

// Inflates every gzip member of `gz` with zlib directly.
inline Bytes Gunzip(const Bytes& gz) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
    Bytes out;
    Bytes buffer(1 << 16);
    z.next_in = const_cast<Bytef*>(gz.data());
    z.avail_in = static_cast<uInt>(gz.size());
    int ret = Z_OK;
    while (ret != Z_STREAM_END) {
        z.next_out = buffer.data();
        z.avail_out = static_cast<uInt>(buffer.size());
        ret = inflate(&z, Z_NO_FLUSH);
        if (ret != Z_OK && ret != Z_STREAM_END) {
            inflateEnd(&z);
            throw std::runtime_error("inflate failed");
        }
        out.insert(out.end(), buffer.begin(), buffer.end() - z.avail_out);
    }
    inflateEnd(&z);
    return out;
}

inline uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

}  // namespace packing_test
