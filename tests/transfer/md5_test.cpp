#include "transfer/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(const transfer::Md5Digest& d) {
    std::string s;
    char b[3];
    for (uint8_t v : d) {
        std::snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

// The test suite of RFC 1321; each backend (libcrypto, CNG) must give these digests.
TEST(Md5, DigestsOfTheReferenceSuite) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(transfer::Md5(Bytes(c.input))), c.digest) << '"' << c.input << '"';
    }
}

TEST(Md5, PiecesGiveTheWholeDigestAndFinalStartsAfresh) {
    std::vector<uint8_t> data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    const auto whole = transfer::Md5(data);
    transfer::Md5Hasher hasher;
    for (size_t at = 0; at < data.size(); at += 4093) {
        hasher.Update(
            std::span<const uint8_t>(data).subspan(at, std::min<size_t>(4093, data.size() - at)));
    }
    EXPECT_EQ(hasher.Final(), whole);
    hasher.Update(Bytes("abc"));
    EXPECT_EQ(Hex(hasher.Final()), "900150983cd24fb0d6963f7d28e17f72");
}
