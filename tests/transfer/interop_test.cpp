// Packed files against tools nobody here wrote: the gzip command and the openssl command.
#include <gtest/gtest.h>

#include "packing_test_util.h"
#include "transfer/gzip_stream.h"
#include "transfer/packed_file.h"
#include "transfer/packing.h"

using namespace packing_test;

namespace {

class Interop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("gzip") || !HaveTool("openssl") || !HaveTool("tail")) {
            GTEST_SKIP() << "gzip, openssl or tail missing";
        }
    }
    // The digest that `openssl md5` computes for the file.
    Bytes OpensslMd5(const std::string& path) {
        const std::string digest = dir / "digest.bin";
        EXPECT_EQ(Shell("openssl md5 -binary < " + Quote(path) + " > " + Quote(digest)), 0);
        return ReadFile(digest);
    }
    TempDir dir;
    transfer::GZipOperations ops;
};

}  // namespace

TEST_F(Interop, PackedFilesUnpackWithGzipAfterThePreambleAndCarryTheOpensslDigest) {
    const Bytes payload = Concat({RandomBytes(70'000, 41), Bytes(30'000, 'x')});
    const std::string in = dir / "payload.bin";
    WriteFile(in, payload);
    for (size_t subLength : {0, 8, 300}) {
        const std::string packed = dir / "p.ckfm";
        ASSERT_TRUE(ops.GZipCompress(in, packed, RandomBytes(subLength, 42)));
        const std::string content = dir / "content.bin";
        const std::string cmd = "tail -c +" + std::to_string(4 + subLength + 1) + " " +
                                Quote(packed) + " | gzip -dc > " + Quote(content);
        ASSERT_EQ(Shell(cmd), 0) << cmd;
        const Bytes unpacked = ReadFile(content);
        ASSERT_EQ(unpacked.size(), payload.size() + 16);
        EXPECT_EQ(Bytes(unpacked.begin() + 16, unpacked.end()), payload);
        EXPECT_EQ(Bytes(unpacked.begin(), unpacked.begin() + 16), OpensslMd5(in)) << subLength;
    }
}

TEST_F(Interop, FirmwareImagesUnpackWithGzipAndCarryTheOpensslDigest) {
    const std::string fw = dir / "fw.bin";
    WriteFile(fw, RandomBytes(5000, 43));
    transfer::boot_block h;
    h.bootCodeOffset = 0x1000;
    h.referenceClock = 26000000;
    const std::string packed = dir / "fw.ckfm";
    const Bytes sub = {2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(ops.GZipPacketCompress(fw, packed, sub, h));
    const std::string content = dir / "content.bin";
    const std::string image = dir / "image.bin";
    ASSERT_EQ(Shell("tail -c +13 " + Quote(packed) + " | gzip -dc > " + Quote(content) +
                    " && tail -c +17 " + Quote(content) + " > " + Quote(image)),
              0);
    EXPECT_EQ(ReadFile(image).size(), 65536u + 5000u);
    const Bytes all = ReadFile(content);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 16), OpensslMd5(image));
}

TEST_F(Interop, GzipToolOutputIsReadAtEveryLevelWithAndWithoutNames) {
    const Bytes payload = Concat({Bytes(40'000, 0), RandomBytes(40'000, 44)});
    const std::string payloadFile = dir / "payload.bin";
    WriteFile(payloadFile, payload);
    const Bytes digest = OpensslMd5(payloadFile);
    ASSERT_EQ(digest.size(), 16u);
    const std::string content = dir / "content.bin";
    WriteFile(content, Concat({digest, payload}));
    const Bytes sub = {2, 0, 0, 0, 0, 0, 0, 0};
    for (const std::string options : {"-1", "-9", "-1 -n", "-9 -n"}) {
        const std::string gz = dir / "content.gz";
        // Compressing a named file stores its name and time unless -n is given.
        ASSERT_EQ(Shell("gzip -c " + options + " " + Quote(content) + " > " + Quote(gz)), 0);
        const Bytes gzBytes = ReadFile(gz);
        const bool named = (gzBytes[3] & 0x08) != 0;
        EXPECT_EQ(named, options.find("-n") == std::string::npos) << options;

        const std::string packed = dir / "tool.ckfm";
        WriteFile(packed, Concat({Preamble(sub), gzBytes}));
        auto r = transfer::ReadPackedFile(packed, transfer::PackedFileRules::FirmwareByFrames());
        ASSERT_TRUE(r.ok()) << options << ": " << transfer::Describe(r.content.status);
        EXPECT_EQ(r.content.payload, payload);

        const std::string out = dir / "out.bin";
        ops.GZipDecompress(packed, out);
        EXPECT_EQ(ReadFile(out), payload) << options;

        // A bare gzip file, as course data comes, through the streaming reader.
        platform::FileStream file(gz);
        transfer::GZipInputStream gzip(file);
        Bytes inflated(payload.size() + 16 + 4096);
        size_t total = 0;
        while (int32_t n = gzip.Read(inflated.data(), static_cast<int32_t>(total), 4096))
            total += n;
        inflated.resize(total);
        EXPECT_EQ(inflated, Concat({digest, payload}));
    }
}
