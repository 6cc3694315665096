#include "transfer/packed_file.h"

#include <gtest/gtest.h>

#include "alloc_probe.h"
#include "packing_test_util.h"

using namespace packing_test;
using platform::MemoryStream;
using transfer::PackedFileRules;
using transfer::PackedHeader;
using transfer::PackedHeaderStatus;
using transfer::ReadPackedHeader;
using transfer::UnpackPackedContent;
using transfer::UnpackStatus;

namespace {

PackedHeader HeaderOf(const Bytes& file, const PackedFileRules& rules = {}) {
    MemoryStream stream(file);
    return ReadPackedHeader(stream, static_cast<int64_t>(file.size()), rules);
}

// Unpacks a whole packed file held in memory, as if it were `length` bytes long.
transfer::UnpackResult UnpackBytes(const Bytes& file, int64_t length = -1) {
    MemoryStream stream(file);
    PackedHeader header = ReadPackedHeader(stream, static_cast<int64_t>(file.size()), {});
    EXPECT_TRUE(header.ok()) << transfer::Describe(header.status);
    return UnpackPackedContent(stream, length < 0 ? static_cast<int64_t>(file.size()) : length);
}

Bytes DigestOf(const Bytes& payload) {
    auto d = ReferenceMd5(payload);
    return Bytes(d.begin(), d.end());
}

class FailingStream : public platform::ByteStream {
public:
    explicit FailingStream(Bytes head) : head_(std::move(head)) {}
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override {
        if (head_.Position() < head_.Length()) return head_.Read(buffer, offset, count);
        throw platform::StreamError("read failed");
    }

private:
    MemoryStream head_;
};

}  // namespace

TEST(PackedHeader, SubHeaderOfLengthZeroIsFollowedDirectlyByTheGzipStream) {
    const Bytes file = PackPayload({}, Bytes{1, 2, 3});
    MemoryStream stream(file);
    PackedHeader h = ReadPackedHeader(stream, static_cast<int64_t>(file.size()), {});
    ASSERT_TRUE(h.ok());
    EXPECT_TRUE(h.subHeader.empty());
    EXPECT_EQ(h.gzipOffset, 4);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_EQ(h.PackageType(), -1);
}

TEST(PackedHeader, LongSubHeaderIsReadWhole) {
    Bytes sub = RandomBytes(300, 3);
    sub[0] = 2;
    const Bytes file = PackPayload(sub, Bytes{9});
    MemoryStream stream(file);
    PackedHeader h = ReadPackedHeader(stream, static_cast<int64_t>(file.size()), {});
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(h.subHeader, sub);
    EXPECT_EQ(h.gzipOffset, 304);
    EXPECT_EQ(stream.Position(), 304);
    EXPECT_EQ(h.PackageType(), 2);
}

TEST(PackedHeader, VersionTextIsSubHeaderFromByteEightUpToNul) {
    Bytes sub = {2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(HeaderOf(PackPayload(sub, {})).VersionText(), "");
    const std::string text = "Ver 1.02 \xE6\x97\xA5";
    sub.insert(sub.end(), text.begin(), text.end());
    sub.push_back(0);
    sub.push_back('x');
    EXPECT_EQ(HeaderOf(PackPayload(sub, {})).VersionText(), text);
}

TEST(PackedHeader, PreambleMustBe0A11) {
    for (const Bytes& file : {Bytes{}, Bytes{0x0A}, Bytes{0x0A, 0x12, 0, 0},
                              Bytes{0x11, 0x0A, 0, 0}, Gzip(Bytes(100, 1))}) {
        EXPECT_EQ(HeaderOf(file).status, PackedHeaderStatus::BadPreamble);
    }
}

TEST(PackedHeader, FileEndingInsideTheHeaderIsTruncated) {
    EXPECT_EQ(HeaderOf({0x0A, 0x11}).status, PackedHeaderStatus::TruncatedHeader);
    EXPECT_EQ(HeaderOf({0x0A, 0x11, 0x00}).status, PackedHeaderStatus::TruncatedHeader);
    EXPECT_EQ(HeaderOf({0x0A, 0x11, 0x00, 0x05, 2, 0, 0, 0}).status,
              PackedHeaderStatus::TruncatedHeader);
    EXPECT_EQ(HeaderOf({0x0A, 0x11, 0x00, 0x04, 2, 0, 0, 0}).status, PackedHeaderStatus::Ok);
}

TEST(PackedHeader, FirmwareByFramesNeedsASubHeaderOfTypeTwo) {
    const auto rules = PackedFileRules::FirmwareByFrames();
    EXPECT_EQ(HeaderOf(PackPayload({}, {1}), rules).status, PackedHeaderStatus::NoSubHeader);
    EXPECT_EQ(HeaderOf(PackPayload({3}, {1}), rules).status, PackedHeaderStatus::WrongPackageType);
    EXPECT_EQ(HeaderOf(PackPayload({2}, {1}), rules).status, PackedHeaderStatus::Ok);
    // Only byte 0 counts.
    EXPECT_EQ(HeaderOf(PackPayload({2, 3, 3, 3}, {1}), rules).status, PackedHeaderStatus::Ok);
}

TEST(PackedHeader, FirmwareByFramesRefusesFilesOverTenMebibytesBeforeReading) {
    const auto rules = PackedFileRules::FirmwareByFrames();
    const Bytes garbage(16, 0xEE);
    MemoryStream stream(garbage);
    EXPECT_EQ(ReadPackedHeader(stream, 10485761, rules).status, PackedHeaderStatus::TooLarge);
    EXPECT_EQ(stream.Position(), 0);
    const Bytes good = PackPayload({2}, {1});
    MemoryStream exact(good);
    EXPECT_EQ(ReadPackedHeader(exact, 10485760, rules).status, PackedHeaderStatus::Ok);
}

TEST(PackedHeader, YmodemTransferWantsTypeThreeAndAllowsNoOtherChecks) {
    const auto rules = PackedFileRules::FirmwareByYmodem();
    EXPECT_EQ(HeaderOf(PackPayload({3}, {1}), rules).status, PackedHeaderStatus::Ok);
    EXPECT_EQ(HeaderOf(PackPayload({2}, {1}), rules).status, PackedHeaderStatus::WrongPackageType);
    // No sub-header means no package type at all.
    EXPECT_EQ(HeaderOf(PackPayload({}, {1}), rules).status, PackedHeaderStatus::WrongPackageType);
    MemoryStream big(PackPayload({3}, {1}));
    EXPECT_EQ(ReadPackedHeader(big, int64_t{1} << 32, rules).status, PackedHeaderStatus::Ok);
}

TEST(PackedHeader, CourseDataChecksLikeFramesWithoutTheSizeLimit) {
    const auto rules = PackedFileRules::CourseData();
    EXPECT_EQ(HeaderOf(PackPayload({}, {1}), rules).status, PackedHeaderStatus::NoSubHeader);
    EXPECT_EQ(HeaderOf(PackPayload({3}, {1}), rules).status, PackedHeaderStatus::WrongPackageType);
    MemoryStream big(PackPayload({2}, {1}));
    EXPECT_EQ(ReadPackedHeader(big, 20'000'000, rules).status, PackedHeaderStatus::Ok);
}

TEST(PackedHeader, MissingOrUnreadableFileCannotBeOpened) {
    TempDir dir;
    PackedHeader missing = ReadPackedHeader(dir / "nope.ckfm", {});
    EXPECT_EQ(missing.status, PackedHeaderStatus::CannotOpen);
    EXPECT_NE(missing.error.find("nope.ckfm"), std::string::npos);
    EXPECT_EQ(ReadPackedHeader(dir.path().string(), {}).status, PackedHeaderStatus::CannotOpen);
}

TEST(UnpackPackedContent, GivesThePayloadAndItsDigest) {
    const Bytes payload = RandomBytes(100'000, 11);
    const auto r = UnpackBytes(PackPayload({2}, payload));
    ASSERT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_EQ(r.payload, payload);
    EXPECT_EQ(Bytes(r.storedDigest.begin(), r.storedDigest.end()), DigestOf(payload));
    EXPECT_EQ(r.contentLength, 100'016);
}

TEST(UnpackPackedContent, EmptyPayloadIsJustTheDigest) {
    const auto r = UnpackBytes(PackPayload({}, {}));
    EXPECT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_TRUE(r.payload.empty());
    EXPECT_EQ(r.contentLength, 16);
}

TEST(UnpackPackedContent, AlteredPayloadIsADigestMismatchWithNoPayload) {
    const Bytes payload = RandomBytes(5000, 12);
    Bytes content = Concat({DigestOf(payload), payload});
    content[16 + 4321] ^= 1;
    const auto r = UnpackBytes(PackRawContent({2}, content));
    EXPECT_EQ(r.status, UnpackStatus::DigestMismatch);
    EXPECT_TRUE(r.IsChecksumFailure());
    EXPECT_TRUE(r.payload.empty());
}

TEST(UnpackPackedContent, ContentShorterThanADigestIsAChecksumFailure) {
    for (size_t n : {0, 1, 15}) {
        const auto r = UnpackBytes(PackRawContent({2}, Bytes(n, 0xAB)));
        EXPECT_EQ(r.status, UnpackStatus::NoDigest) << n;
        EXPECT_TRUE(r.IsChecksumFailure());
    }
    // Sixteen bytes are a digest of nothing, which must still match.
    EXPECT_EQ(UnpackBytes(PackRawContent({2}, Bytes(16, 0xAB))).status,
              UnpackStatus::DigestMismatch);
    EXPECT_EQ(UnpackBytes(PackRawContent({2}, DigestOf({}))).status, UnpackStatus::Ok);
}

TEST(UnpackPackedContent, LimitIsOneHundredTimesTheFileLengthLessOneHundred) {
    EXPECT_EQ(transfer::UnpackLimit(100), 9900);
    EXPECT_EQ(transfer::UnpackLimit(1), 0);
    EXPECT_EQ(transfer::UnpackLimit(0), 0);
    EXPECT_EQ(transfer::UnpackLimit(10485760), 1048575900);

    // Content of exactly 9,900 bytes fits a 100-byte file and not a 99-byte one.
    const Bytes payload(9900 - 16, 0x5C);
    const Bytes file = PackPayload({2}, payload);
    EXPECT_EQ(UnpackBytes(file, 100).status, UnpackStatus::Ok);
    const auto over = UnpackBytes(file, 99);
    EXPECT_EQ(over.status, UnpackStatus::OverLimit);
    EXPECT_EQ(over.contentLength, 9801);  // reading stops one byte past the limit
    EXPECT_TRUE(over.payload.empty());
    // One byte more than fits.
    EXPECT_EQ(UnpackBytes(PackPayload({2}, Bytes(9901 - 16, 0x5C)), 100).status,
              UnpackStatus::OverLimit);
    // A limit inside the digest.
    EXPECT_EQ(UnpackBytes(file, 1).status, UnpackStatus::OverLimit);
}

TEST(UnpackPackedContent, ZeroBombStopsAtTheLimitInBoundedMemory) {
    // 64 MiB of zeros pack into a few tens of KiB: far past 100 times the file's length.
    const Bytes payload(64 << 20, 0);
    const Bytes content = Concat({DigestOf(payload), payload});
    const Bytes file = Concat({Preamble({2}), Gzip(content, 9)});
    ASSERT_LT(file.size() * 100, content.size());
    MemoryStream stream(file);
    ASSERT_TRUE(ReadPackedHeader(stream, static_cast<int64_t>(file.size()), {}).ok());
    alloc_probe::Start();
    auto r = UnpackPackedContent(stream, static_cast<int64_t>(file.size()));
    const int64_t peak = alloc_probe::Stop();
    EXPECT_EQ(r.status, UnpackStatus::OverLimit);
    EXPECT_EQ(r.contentLength, transfer::UnpackLimit(static_cast<int64_t>(file.size())) + 1);
    EXPECT_LT(peak, 4 * r.contentLength + (1 << 20));
}

TEST(UnpackPackedContent, MemoryFollowsTheContentNotTheLimit) {
    // Incompressible: the limit is about 100 times the payload, the memory must not be.
    const Bytes payload = RandomBytes(300'000, 13);
    const Bytes file = PackPayload({2}, payload);
    MemoryStream stream(file);
    ASSERT_TRUE(ReadPackedHeader(stream, static_cast<int64_t>(file.size()), {}).ok());
    alloc_probe::Start();
    auto r = UnpackPackedContent(stream, static_cast<int64_t>(file.size()));
    const int64_t peak = alloc_probe::Stop();
    ASSERT_EQ(r.status, UnpackStatus::Ok);
    EXPECT_LT(peak, 4 * static_cast<int64_t>(payload.size()) + (1 << 20));
}

TEST(UnpackPackedContent, BrokenGzipIsCorruptData) {
    const Bytes payload = RandomBytes(20'000, 14);
    Bytes file = PackPayload({2}, payload);
    Bytes truncated(file.begin(), file.end() - 9);
    EXPECT_EQ(UnpackBytes(truncated).status, UnpackStatus::CorruptData);
    Bytes flipped = file;
    flipped[file.size() / 2] ^= 0xFF;
    auto r = UnpackBytes(flipped);
    EXPECT_EQ(r.status, UnpackStatus::CorruptData);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(UnpackBytes(Preamble({2})).status, UnpackStatus::CorruptData);
    EXPECT_EQ(UnpackBytes(Concat({Preamble({2}), Bytes(64, 0x00)})).status,
              UnpackStatus::CorruptData);
}

TEST(UnpackPackedContent, SourceFailureIsAReadError) {
    const Bytes gz = Gzip(Concat({DigestOf(RandomBytes(100'000, 15)), RandomBytes(100'000, 15)}));
    FailingStream source(Bytes(gz.begin(), gz.begin() + 500));
    auto r = UnpackPackedContent(source, 1'000'000);
    EXPECT_EQ(r.status, UnpackStatus::ReadError);
    EXPECT_EQ(r.error, "read failed");
}

TEST(ReadPackedFile, ChecksHeaderThenContentFromDisk) {
    TempDir dir;
    const Bytes payload = RandomBytes(4000, 16);
    WriteFile(dir / "fw.ckfm", PackPayload({2, 1, 0, 0, 0, 0, 0, 0}, payload));
    auto ok = transfer::ReadPackedFile(dir / "fw.ckfm", PackedFileRules::FirmwareByFrames());
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(ok.content.payload, payload);

    auto wrongType = transfer::ReadPackedFile(dir / "fw.ckfm", PackedFileRules::FirmwareByYmodem());
    EXPECT_EQ(wrongType.header.status, PackedHeaderStatus::WrongPackageType);
    EXPECT_FALSE(wrongType.ok());
    EXPECT_TRUE(wrongType.content.payload.empty());

    auto missing = transfer::ReadPackedFile(dir / "none.ckfm", {});
    EXPECT_EQ(missing.header.status, PackedHeaderStatus::CannotOpen);
}
