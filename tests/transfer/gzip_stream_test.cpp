#include "transfer/gzip_stream.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "alloc_probe.h"
#include "packing_test_util.h"

using namespace packing_test;
using platform::InvalidDataError;
using platform::MemoryStream;
using platform::StreamError;
using transfer::GZipInputStream;

namespace {

// Mixed content: a compressible run, text-like bytes and random bytes.
Bytes SampleData(size_t n) {
    Bytes data = RandomBytes(n, 7);
    for (size_t i = 0; i < n / 3; ++i) data[i] = static_cast<uint8_t>('a' + i % 7);
    return data;
}

Bytes ReadAll(platform::ByteStream& stream, int32_t piece) {
    Bytes out;
    Bytes buffer(static_cast<size_t>(piece) + 3);
    while (true) {
        int32_t n = stream.Read(buffer.data(), 3, piece);
        if (n == 0) break;
        EXPECT_GT(n, 0);
        EXPECT_LE(n, piece);
        out.insert(out.end(), buffer.begin() + 3, buffer.begin() + 3 + n);
    }
    return out;
}

Bytes InflateAll(const Bytes& gz, int32_t piece = 4096) {
    MemoryStream source(gz);
    GZipInputStream gzip(source);
    return ReadAll(gzip, piece);
}

// A source that fails after handing out some bytes.
class FailingStream : public platform::ByteStream {
public:
    explicit FailingStream(Bytes head) : head_(std::move(head)) {}
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override {
        if (head_.Position() < head_.Length()) return head_.Read(buffer, offset, count);
        throw StreamError("device went away");
    }

private:
    MemoryStream head_;
};

}  // namespace

TEST(GZipInputStream, GivesTheSameBytesWhateverTheReadSize) {
    const Bytes data = SampleData(300'000);
    const Bytes gz = Gzip(data);
    for (int32_t piece : {1, 7, 100, 1024, 65536, 1 << 20}) {
        EXPECT_EQ(InflateAll(gz, piece), data) << "piece " << piece;
    }
}

TEST(GZipInputStream, CountsConsumedAndProducedBytes) {
    const Bytes data = SampleData(50'000);
    const Bytes gz = Gzip(data);
    MemoryStream source(gz);
    GZipInputStream gzip(source);
    ReadAll(gzip, 999);
    EXPECT_EQ(gzip.TotalOut(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(gzip.TotalIn(), static_cast<int64_t>(gz.size()));
}

TEST(GZipInputStream, StartsAtTheSourcesCurrentPosition) {
    const Bytes data = SampleData(10'000);
    const Bytes file = Concat({Bytes{0x0A, 0x11, 0x00, 0x02, 0x02, 0x00}, Gzip(data)});
    MemoryStream source(file);
    source.Seek(6);
    GZipInputStream gzip(source);
    EXPECT_EQ(ReadAll(gzip, 512), data);
}

TEST(GZipInputStream, ReadsACFileFromItsPosition) {
    TempDir dir;
    const Bytes data = SampleData(70'000);
    WriteFile(dir / "f", Concat({Bytes(5, 0x77), Gzip(data)}));
    std::FILE* f = std::fopen((dir / "f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 5, SEEK_SET);
    {
        GZipInputStream gzip(f);
        EXPECT_EQ(ReadAll(gzip, 3000), data);
    }
    std::fclose(f);
}

TEST(GZipInputStream, ClosesAnOwnedSourceAndRefusesLaterReads) {
    TempDir dir;
    WriteFile(dir / "f.gz", Gzip(SampleData(1000)));
    auto file = std::make_unique<platform::FileStream>(dir / "f.gz");
    GZipInputStream gzip(std::move(file));
    uint8_t b[10];
    EXPECT_EQ(gzip.Read(b, 0, 10), 10);
    gzip.Close();
    EXPECT_THROW(gzip.Read(b, 0, 10), StreamError);
}

TEST(GZipInputStream, ReadsConcatenatedMembersAsOneStream) {
    const Bytes a = SampleData(5000);
    const Bytes b = RandomBytes(3000, 99);
    EXPECT_EQ(InflateAll(Concat({Gzip(a), Gzip(b, 1)})), Concat({a, b}));
    // An empty member in between changes nothing.
    EXPECT_EQ(InflateAll(Concat({Gzip(a), Gzip({}), Gzip(b)}), 100), Concat({a, b}));
}

TEST(GZipInputStream, IgnoresBytesAfterTheLastMember) {
    const Bytes data = SampleData(4000);
    EXPECT_EQ(InflateAll(Concat({Gzip(data), Bytes{'j', 'u', 'n', 'k'}})), data);
    EXPECT_EQ(InflateAll(Concat({Gzip(data), Bytes(1000, 0)})), data);
    EXPECT_EQ(InflateAll(Concat({Gzip(data), Bytes{0x1F}})), data);
}

TEST(GZipInputStream, EveryTruncationIsInvalidData) {
    const Bytes data = SampleData(2000);
    const Bytes gz = Gzip(data);
    for (size_t cut = 0; cut < gz.size(); ++cut) {
        Bytes head(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(InflateAll(head), InvalidDataError) << "cut at " << cut;
    }
    // A second member that stops short is as bad as a first one.
    Bytes two = Concat({gz, gz});
    two.resize(two.size() - 3);
    EXPECT_THROW(InflateAll(two), InvalidDataError);
}

TEST(GZipInputStream, CorruptBytesAreInvalidData) {
    const Bytes data = SampleData(20'000);
    const Bytes gz = Gzip(data);
    // Header magic, compression method, deflate body, stored CRC, stored length.
    for (size_t at : {size_t{0}, size_t{2}, gz.size() / 2, gz.size() - 8, gz.size() - 2}) {
        Bytes bad = gz;
        bad[at] ^= 0x5A;
        EXPECT_THROW(InflateAll(bad), InvalidDataError) << "byte " << at;
    }
    EXPECT_THROW(InflateAll(Bytes(100, 0x42)), InvalidDataError);
}

TEST(GZipInputStream, SourceErrorsStayStreamErrorsNotInvalidData) {
    const Bytes gz = Gzip(SampleData(200'000));
    FailingStream source(Bytes(gz.begin(), gz.begin() + 1000));
    GZipInputStream gzip(source);
    try {
        ReadAll(gzip, 4096);
        FAIL() << "no error";
    } catch (const InvalidDataError&) {
        FAIL() << "a read failure was reported as corrupt data";
    } catch (const StreamError& e) {
        EXPECT_STREQ(e.what(), "device went away");
    }
}

TEST(GZipInputStream, StreamsInBoundedMemory) {
    // 16 MiB of content; the decompressor may hold its buffers but not the data.
    const Bytes gz = Gzip(Bytes(16 << 20, 0x00), 9);
    MemoryStream source(gz);
    Bytes buffer(65536);
    alloc_probe::Start();
    int64_t total = 0;
    {
        GZipInputStream gzip(source);
        while (int32_t n = gzip.Read(buffer.data(), 0, 65536)) total += n;
    }
    const int64_t peak = alloc_probe::Stop();
    EXPECT_EQ(total, 16 << 20);
    EXPECT_LT(peak, 1 << 20);
}
