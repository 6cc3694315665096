#include "transfer/packing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "packing_test_util.h"
#include "transfer/boot_program.h"

using namespace packing_test;
using transfer::boot_block;
using transfer::GZipOperations;

namespace {

const Bytes kStdSub = {2, 0, 0, 0, 0, 0, 0, 0};

// Splits a packed file made here into sub-header and gzip content, independently of the reader.
struct Unpacked {
    Bytes subHeader;
    Bytes digest;
    Bytes payload;
};

Unpacked Split(const Bytes& file) {
    EXPECT_GE(file.size(), 4u);
    EXPECT_EQ(file[0], 0x0A);
    EXPECT_EQ(file[1], 0x11);
    size_t length = file[2] * 256u + file[3];
    Unpacked u;
    u.subHeader.assign(file.begin() + 4, file.begin() + 4 + static_cast<std::ptrdiff_t>(length));
    Bytes content =
        Gunzip(Bytes(file.begin() + 4 + static_cast<std::ptrdiff_t>(length), file.end()));
    EXPECT_GE(content.size(), 16u);
    u.digest.assign(content.begin(), content.begin() + 16);
    u.payload.assign(content.begin() + 16, content.end());
    return u;
}

Bytes DigestOf(const Bytes& payload) {
    auto d = ReferenceMd5(payload);
    return Bytes(d.begin(), d.end());
}

boot_block CallerHeader(uint32_t offset, uint32_t clock) {
    boot_block h;
    h.bootCodeOffset = offset;
    h.referenceClock = clock;
    h.reserved16 = 0x5A5A0001;
    h.pllctrl[0] = 0x00010203;
    h.pllctrl[1] = 0x04050607;
    h.pllctrl[2] = 0x08090A0B;
    for (size_t i = 0; i < sizeof h.reserved44; ++i)
        h.reserved44[i] = static_cast<uint8_t>(0x80 + i);
    return h;
}

int Lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class Packing : public ::testing::Test {
protected:
    TempDir dir;
    GZipOperations ops;
    std::string in = dir / "in.bin";
    std::string out = dir / "out.ckfm";
};

}  // namespace

TEST(GZipOperationsSetup, HeaderRecordDescribesTheStandardSubHeader) {
    GZipOperations plain;
    GZipOperations quiet(false);
    EXPECT_EQ(plain.header.subHeaderSize, 8);
    EXPECT_EQ(plain.header.getHeaderLength(), 12);
    EXPECT_EQ(quiet.header.getHeaderLength(), 12);
    EXPECT_TRUE(plain.ShowMessageBox());
    EXPECT_FALSE(quiet.ShowMessageBox());
}

TEST_F(Packing, CompressWritesPreambleSubHeaderAndDigestedPayload) {
    const Bytes payload = RandomBytes(50'000, 21);
    WriteFile(in, payload);
    ASSERT_TRUE(ops.GZipCompress(in, out, kStdSub));
    const Bytes file = ReadFile(out);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 12), Concat({{0x0A, 0x11, 0x00, 0x08}, kStdSub}));
    EXPECT_EQ(file[12], 0x1F);
    EXPECT_EQ(file[13], 0x8B);
    const Unpacked u = Split(file);
    EXPECT_EQ(u.digest, DigestOf(payload));
    EXPECT_EQ(u.payload, payload);
}

TEST_F(Packing, SubHeaderLengthIsBigEndian) {
    WriteFile(in, {1, 2, 3});
    ASSERT_TRUE(ops.GZipCompress(in, out, {}));
    Bytes file = ReadFile(out);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{0x0A, 0x11, 0x00, 0x00, 0x1F, 0x8B}));

    const Bytes sub = RandomBytes(300, 22);
    ASSERT_TRUE(ops.GZipCompress(in, out, sub));
    file = ReadFile(out);
    EXPECT_EQ(file[2], 0x01);
    EXPECT_EQ(file[3], 0x2C);
    EXPECT_EQ(Split(file).subHeader, sub);

    const Bytes longest(65535, 0x02);
    ASSERT_TRUE(ops.GZipCompress(in, out, longest));
    file = ReadFile(out);
    EXPECT_EQ(file[2], 0xFF);
    EXPECT_EQ(file[3], 0xFF);
    EXPECT_EQ(Split(file).payload, (Bytes{1, 2, 3}));
}

TEST_F(Packing, SubHeaderTooLongForItsLengthFieldFails) {
    WriteFile(in, {1, 2, 3});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ops.GZipCompress(in, out, Bytes(65536, 0x02)));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(err), 1);
    EXPECT_NE(err.find("65,535"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(Packing, EmptyPayloadPacksToJustTheDigest) {
    WriteFile(in, {});
    ASSERT_TRUE(ops.GZipCompress(in, out, kStdSub));
    const Unpacked u = Split(ReadFile(out));
    EXPECT_EQ(u.digest, DigestOf({}));
    EXPECT_TRUE(u.payload.empty());
    ops.GZipDecompress(out, dir / "back.bin");
    EXPECT_TRUE(std::filesystem::exists(dir / "back.bin"));
    EXPECT_TRUE(ReadFile(dir / "back.bin").empty());
}

TEST_F(Packing, OutputReplacesAnExistingFile) {
    WriteFile(out, RandomBytes(200'000, 23));
    WriteFile(in, {7});
    ASSERT_TRUE(ops.GZipCompress(in, out, kStdSub));
    EXPECT_LT(ReadFile(out).size(), 100u);
    EXPECT_EQ(Split(ReadFile(out)).payload, Bytes{7});
}

TEST_F(Packing, MissingInputLeavesTheOutputAsItWasAndOneConsoleLine) {
    WriteFile(out, {1, 2, 3});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ops.GZipCompress(dir / "absent.bin", out, kStdSub));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(err), 1);
    EXPECT_NE(err.find("absent.bin"), std::string::npos);
    EXPECT_EQ(ReadFile(out), (Bytes{1, 2, 3}));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(ops.GZipCompress(dir.path().string(), out, kStdSub));
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()), 1);
}

TEST_F(Packing, InputShorterThanItsLengthFailsSilently) {
    // sysfs reports 4,096 bytes for files that read much shorter.
    const std::string shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st {};
    if (::stat(shortFile.c_str(), &st) != 0 || st.st_size <= 100) GTEST_SKIP() << "no sysfs";
    if (ReadFile(shortFile).size() >= static_cast<size_t>(st.st_size)) GTEST_SKIP();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ops.GZipCompress(shortFile, out, kStdSub));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(Packing, OutputThatCannotBeCreatedGoesToTheCaller) {
    WriteFile(in, {1});
    EXPECT_THROW(ops.GZipCompress(in, dir / "no/such/dir/out.ckfm", kStdSub),
                 platform::StreamError);
    EXPECT_THROW(ops.GZipPacketCompress(in, dir / "no/out.ckfm", kStdSub, CallerHeader(64, 1)),
                 platform::StreamError);
}

TEST_F(Packing, InputNamedAsOutputIsRefusedAndKept) {
    const Bytes data = RandomBytes(1000, 24);
    WriteFile(in, data);
    EXPECT_THROW(ops.GZipCompress(in, in, kStdSub), platform::StreamError);
    EXPECT_THROW(ops.GZipDecompress(in, in), platform::StreamError);
    EXPECT_EQ(ReadFile(in), data);
}

TEST_F(Packing, FirmwareImageLayoutIsExactForAHundredByteFirmware) {
    const Bytes fw = RandomBytes(100, 25);
    WriteFile(in, fw);
    const uint32_t offset = 0x400;
    ASSERT_TRUE(ops.GZipPacketCompress(in, out, kStdSub, CallerHeader(offset, 26000000)));
    const Unpacked u = Split(ReadFile(out));
    EXPECT_EQ(u.subHeader, kStdSub);
    const Bytes& image = u.payload;
    ASSERT_EQ(image.size(), 65636u);
    EXPECT_EQ(u.digest, DigestOf(image));

    EXPECT_EQ(Le32(image, 0), 0xBEEF5555u);
    EXPECT_EQ(Le32(image, 8), 2796u);
    EXPECT_EQ(Le32(image, 12), offset);
    EXPECT_EQ(Le32(image, 16), 0x5A5A0001u);
    EXPECT_EQ(Le32(image, 20), 0x00024125u);
    EXPECT_EQ(Bytes(image.begin() + 24, image.begin() + 28), Bytes(fw.begin() + 4, fw.begin() + 8));
    EXPECT_EQ(Le32(image, 28), 26000000u);
    EXPECT_EQ(Le32(image, 32), 0x00010203u);
    for (size_t i = 44; i < 64; ++i) EXPECT_EQ(image[i], 0x80 + (i - 44));
    const uint32_t crc =
        ~static_cast<uint32_t>(crc32(~transfer::kHeaderCrcSeed, image.data() + 8, 56));
    EXPECT_EQ(Le32(image, 4), crc);

    const auto program = transfer::BootProgram26MHz();
    for (size_t i = 64; i < 65536; ++i) {
        const uint8_t expected =
            (i >= offset && i < offset + program.size()) ? program[i - offset] : 0xFF;
        ASSERT_EQ(image[i], expected) << "image byte " << i;
    }
    EXPECT_EQ(Bytes(image.begin() + 65536, image.end()), fw);
}

TEST_F(Packing, ReferenceClockChoosesTheBootProgram) {
    WriteFile(in, RandomBytes(64, 26));
    const uint32_t offset = 64;
    auto programIn = [&](uint32_t clock) {
        EXPECT_TRUE(ops.GZipPacketCompress(in, out, kStdSub, CallerHeader(offset, clock)));
        const Bytes image = Split(ReadFile(out)).payload;
        return Bytes(image.begin() + offset, image.begin() + offset + transfer::kBootCodeSize);
    };
    const auto p26 = transfer::BootProgram26MHz();
    const auto p16 = transfer::BootProgram16369kHz();
    EXPECT_EQ(programIn(26000000), Bytes(p26.begin(), p26.end()));
    EXPECT_EQ(programIn(26000001), Bytes(p16.begin(), p16.end()));
    EXPECT_EQ(programIn(16369000), Bytes(p16.begin(), p16.end()));
}

TEST_F(Packing, BootProgramMayEndExactlyWhereTheFirmwareStarts) {
    const Bytes fw = RandomBytes(8, 27);
    WriteFile(in, fw);
    ASSERT_TRUE(ops.GZipPacketCompress(in, out, kStdSub, CallerHeader(62740, 16369000)));
    const Bytes image = Split(ReadFile(out)).payload;
    const auto program = transfer::BootProgram16369kHz();
    EXPECT_EQ(Bytes(image.begin() + 62740, image.begin() + 65536),
              Bytes(program.begin(), program.end()));
    EXPECT_EQ(Bytes(image.begin() + 65536, image.end()), fw);
    EXPECT_EQ(image[62739], 0xFF);
}

TEST_F(Packing, BootCodeOffsetOutsideItsRangeFails) {
    WriteFile(in, RandomBytes(100, 28));
    for (uint32_t bad : {0u, 63u, 62741u, 65536u, 0xFFFFFFFFu}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ops.GZipPacketCompress(in, out, kStdSub, CallerHeader(bad, 26000000))) << bad;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Lines(err), 1) << bad;
        EXPECT_NE(err.find("bootCodeOffset"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(Packing, FirmwareShorterThanEightBytesFailsAndKeepsTheOldOutput) {
    WriteFile(in, RandomBytes(7, 29));
    WriteFile(out, {9});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ops.GZipPacketCompress(in, out, kStdSub, CallerHeader(64, 26000000)));
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()), 1);
    EXPECT_EQ(ReadFile(out), Bytes{9});
}

TEST(FirmwareHeader, OperationSetsItsOwnFieldsWhateverTheCallerPassed) {
    boot_block caller = CallerHeader(0x200, 26000000);
    caller.magic = 1;
    caller.headerCrc = 2;
    caller.bootCodeSize = 3;
    caller.entryAddress = 4;
    caller.firmwareEntry = 5;
    const Bytes fw = {0, 1, 2, 3, 0x35, 0x12, 0x00, 0x08, 9};
    const boot_block done = transfer::CompleteBootBlock(caller, fw);
    EXPECT_EQ(done.magic, 0xBEEF5555u);
    EXPECT_EQ(done.bootCodeSize, 2796u);
    EXPECT_EQ(done.entryAddress, 0x00024125u);
    EXPECT_EQ(done.firmwareEntry, 0x08001235u);
    EXPECT_EQ(done.headerCrc, transfer::BootBlockHeaderCrc(done));
    EXPECT_EQ(done.reserved16, caller.reserved16);
    EXPECT_EQ(done.bootCodeOffset, 0x200u);
}

TEST(FirmwareHeader, ChecksumFollowsTheCopiedFirmwareBytes) {
    const boot_block caller = CallerHeader(0x200, 26000000);
    const Bytes fw = RandomBytes(16, 30);
    const uint32_t base = transfer::CompleteBootBlock(caller, fw).headerCrc;
    for (size_t i = 0; i < fw.size(); ++i) {
        Bytes changed = fw;
        changed[i] ^= 0x80;
        const uint32_t crc = transfer::CompleteBootBlock(caller, changed).headerCrc;
        if (i >= 4 && i < 8) {
            EXPECT_NE(crc, base) << "firmware byte " << i;
        } else {
            EXPECT_EQ(crc, base) << "firmware byte " << i;
        }
    }
    boot_block other = caller;
    other.reserved16 ^= 1;
    EXPECT_NE(transfer::CompleteBootBlock(other, fw).headerCrc, base);
}

TEST_F(Packing, DecompressWritesThePayload) {
    const Bytes payload = RandomBytes(123'456, 31);
    WriteFile(in, payload);
    ASSERT_TRUE(ops.GZipCompress(in, out, kStdSub));
    const std::string back = dir / "back.bin";
    WriteFile(back, RandomBytes(300'000, 32));
    testing::internal::CaptureStderr();
    ops.GZipDecompress(out, back);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(back), payload);
}

TEST_F(Packing, DecompressAcceptsAnEmptySubHeader) {
    WriteFile(in, PackPayload({}, {4, 5, 6}));
    ops.GZipDecompress(in, out);
    EXPECT_EQ(ReadFile(out), (Bytes{4, 5, 6}));
}

TEST_F(Packing, DecompressLeavesTheOutputAsItWasSilentlyForForeignFilesAndBadDigests) {
    const Bytes payload = RandomBytes(2000, 33);
    Bytes content = Concat({DigestOf(payload), payload});
    content[100] ^= 4;
    for (const Bytes& file :
         {PackRawContent(kStdSub, content), Gzip(payload), Bytes{0x0A}, Bytes{}}) {
        WriteFile(in, file);
        WriteFile(out, {1, 2, 3});
        testing::internal::CaptureStderr();
        ops.GZipDecompress(in, out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(ReadFile(out), (Bytes{1, 2, 3}));
    }
}

TEST_F(Packing, DecompressReportsBrokenFilesWithOneLine) {
    const Bytes good = PackPayload(kStdSub, RandomBytes(3000, 34));
    const Bytes bomb = PackPayload(kStdSub, Bytes(2'000'000, 0));
    const Bytes cases[] = {
        Bytes(good.begin(), good.end() - 5),           // truncated gzip
        Concat({Preamble(kStdSub), Bytes(40, 0x33)}),  // not gzip at all
        PackRawContent(kStdSub, Bytes(15, 1)),         // no whole digest
        bomb,                                          // over 100 times its size
        Bytes{0x0A, 0x11, 0x00, 0x09, 0x02},           // ends inside the sub-header
    };
    ASSERT_LT(bomb.size() * 100, 2'000'000u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteFile(in, cases[i]);
        testing::internal::CaptureStderr();
        ops.GZipDecompress(in, out);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Lines(err), 1) << "case " << i << ": " << err;
        EXPECT_FALSE(std::filesystem::exists(out)) << "case " << i;
    }
}

TEST_F(Packing, DecompressOfAMissingInputGoesToTheCaller) {
    EXPECT_THROW(ops.GZipDecompress(dir / "absent.ckfm", out), platform::StreamError);
    WriteFile(in, PackPayload(kStdSub, {1}));
    EXPECT_THROW(ops.GZipDecompress(in, dir / "no/dir/x"), platform::StreamError);
}

namespace {
// Records the size of every request.
class RecordingStream : public platform::MemoryStream {
public:
    using MemoryStream::MemoryStream;
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override {
        requests.push_back(count);
        return MemoryStream::Read(buffer, offset, std::min(count, 37));  // short reads on purpose
    }
    std::vector<int32_t> requests;
};
}  // namespace

TEST(ReadAllBytesFromStream, ReadsToTheEndInRequestsOfOneHundred) {
    const Bytes data = RandomBytes(1000, 35);
    RecordingStream stream(data);
    Bytes buffer(1100, 0xEE);
    EXPECT_EQ(GZipOperations::ReadAllBytesFromStream(stream, buffer), 1000);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1000), data);
    EXPECT_TRUE(std::all_of(stream.requests.begin(), stream.requests.end(),
                            [](int32_t c) { return c == 100; }));
}

TEST(ReadAllBytesFromStream, EveryRequestMustFitTheBuffer) {
    const Bytes data = RandomBytes(1000, 36);
    platform::MemoryStream exact(data);
    Bytes tight(1099);
    EXPECT_THROW(GZipOperations::ReadAllBytesFromStream(exact, tight), std::length_error);
    platform::MemoryStream empty;
    Bytes hundred(100);
    EXPECT_EQ(GZipOperations::ReadAllBytesFromStream(empty, hundred), 0);
    Bytes small(99);
    EXPECT_THROW(GZipOperations::ReadAllBytesFromStream(empty, small), std::length_error);
}
