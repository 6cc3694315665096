// The YMODEM sender over a receive buffer, against a scripted receiver: block formats, the
// reply handling, the shared budget, the limits that end a transfer, and unpacking.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/fake_clock.h"
#include "support/scripted_buffer.h"
#include "transfer/ymodem.h"
#include "ymodem_test_support.h"

using namespace ymodem_test;
using transfer::Ymodem;

namespace {

// A receive buffer whose every SendCmd is answered by the fake receiver at once.
struct Session {
    Session() { link.buffer.ReadTimeout(2000); }
    bool Send(const Bytes& payload, const std::string& name = "fw.bin") {
        platform::MemoryStream source(payload);
        return modem.sendStream(source, static_cast<int64_t>(payload.size()), name, link.buffer);
    }
    bool SendFile(const std::string& path, bool unpack, int64_t position = 0) {
        platform::FileStream file(path);
        file.Seek(position);
        return modem.sendPackets(file, link.buffer, unpack);
    }

    FakeReceiver rx;
    testsupport::ScriptedBuffer link{
        [this](testsupport::ScriptedBuffer& b, const Bytes& sent) { b.Feed(rx.Answer(sent)); }};
    Ymodem modem;
};

class SenderFixture : public ::testing::Test {
protected:
    bool SendBytes(const Bytes& payload, const std::string& name = "fw.bin") {
        return s.Send(payload, name);
    }
    bool SendFile(const std::string& path, bool unpack, int64_t position = 0) {
        return s.SendFile(path, unpack, position);
    }

    Session s;
    FakeReceiver& rx = s.rx;
    testsupport::ScriptedBuffer& link = s.link;
    Ymodem& modem = s.modem;
    TempDir dir;
};

std::vector<Kind> Expected(std::initializer_list<Kind> kinds) {
    return kinds;
}

}  // namespace

TEST(YmodemCrc, MatchesTheXmodemCheckValueAndAReferenceOnRandomData) {
    const std::string check = "123456789";
    EXPECT_EQ(Ymodem::calcrc(reinterpret_cast<const uint8_t*>(check.data()), 9), 0x31C3);
    const Bytes zeros(128, 0);
    EXPECT_EQ(Ymodem::calcrc(zeros.data(), 128), 0);
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes data = RandomBytes(1 + seed * 53, seed);
        const int32_t crc = Ymodem::calcrc(data.data(), static_cast<int32_t>(data.size()));
        EXPECT_EQ(crc, RefCrc(data.data(), data.size())) << "seed " << seed;
        EXPECT_GE(crc, 0);
        EXPECT_LT(crc, 65536);
    }
}

TEST(YmodemBlocks, HeaderForABinWith1234Bytes) {
    transfer::HeaderBlock block{};
    transfer::BuildHeaderBlock(block, "a.bin", 1234);
    Bytes payload(128, 0);
    const std::string text = std::string("a.bin") + '\0' + "1234";
    std::copy(text.begin(), text.end(), payload.begin());
    EXPECT_EQ(block[0], kSoh);
    EXPECT_EQ(block[1], 0x00);
    EXPECT_EQ(block[2], 0xFF);
    EXPECT_EQ(Bytes(block.begin() + 3, block.begin() + 131), payload);
    const uint16_t crc = RefCrc(payload.data(), 128);
    EXPECT_EQ(block[131], crc >> 8);
    EXPECT_EQ(block[132], crc & 0xFF);
}

TEST(YmodemBlocks, LongestNameLargestSizeAndEndOfBatch) {
    transfer::HeaderBlock block{};
    transfer::BuildHeaderBlock(block, std::string(117, 'n'), 2147483647);
    EXPECT_EQ(block[3 + 117], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 3 + 118), 10), "2147483647");
    EXPECT_THROW(transfer::BuildHeaderBlock(block, std::string(118, 'n'), 1),
                 std::invalid_argument);
    EXPECT_THROW(transfer::BuildHeaderBlock(block, "", 1), std::invalid_argument);
    transfer::BuildEndOfBatchBlock(block);
    Bytes expected(133, 0);
    expected[0] = kSoh;
    expected[2] = 0xFF;
    EXPECT_EQ(Bytes(block.begin(), block.end()), expected);
}

TEST(YmodemBlocks, ShortDataBlockIsFilledWith1A) {
    transfer::DataBlock block{};
    const Bytes data{1, 2, 3};
    transfer::BuildDataBlock(block, 0x7F, data);
    EXPECT_EQ(block[0], kStx);
    EXPECT_EQ(block[1], 0x7F);
    EXPECT_EQ(block[2], 0x80);
    EXPECT_EQ(block[3], 1);
    EXPECT_EQ(block[5], 3);
    for (size_t i = 6; i < 1027; ++i) ASSERT_EQ(block[i], 0x1A) << i;
    const uint16_t crc = RefCrc(block.data() + 3, 1024);
    EXPECT_EQ(block[1027], crc >> 8);
    EXPECT_EQ(block[1028], crc & 0xFF);
}

TEST(YmodemFileNames, LastComponentOfThePath) {
    EXPECT_EQ(transfer::YmodemFileName("/tmp/x/fw.ckfm"), "fw.ckfm");
    EXPECT_EQ(transfer::YmodemFileName("plain.bin"), "plain.bin");
    EXPECT_EQ(transfer::YmodemFileName("/a/\xE3\x83\x95.bin"), "\xE3\x83\x95.bin");
}

// --- Whole transfers ----------------------------------------------------------------------

TEST_F(SenderFixture, StandardReceiverGetsTheFileAndTheBatchEnd) {
    const Bytes payload = RandomBytes(3000, 7);
    EXPECT_TRUE(SendBytes(payload, "a.bin"));
    EXPECT_EQ(rx.Name(), "a.bin");
    EXPECT_EQ(rx.SizeText(), "3000");
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(rx.Kinds(), Expected({Kind::Header, Kind::Data, Kind::Data, Kind::Data, Kind::Eot,
                                    Kind::Eot, Kind::EndOfBatch}));
    for (const auto& r : rx.Log()) {
        if (r.kind == Kind::Header || r.kind == Kind::Data) {
            EXPECT_TRUE(r.crcOk);
        }
    }
    EXPECT_TRUE(modem.finished);
    EXPECT_EQ(modem.fileSize, 3000);
    EXPECT_EQ(modem.bytesLeft, 0);
    EXPECT_EQ(modem.packetNum, 4);
    EXPECT_EQ(modem.errorCount, 0) << "the NAK of the first EOT is not counted";
}

TEST_F(SenderFixture, FillOnlyInTheLastBlockAndExactlyNoBytesLeft) {
    for (const size_t size : {2048u, 2049u}) {
        Session fresh;
        const Bytes payload = RandomBytes(size, 4);
        EXPECT_TRUE(fresh.Send(payload));
        EXPECT_EQ(fresh.modem.bytesLeft, 0);
        const Bytes raw = fresh.rx.RawContent();
        ASSERT_EQ(raw.size(), (size + 1023) / 1024 * 1024) << size;
        EXPECT_EQ(Bytes(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(size)), payload);
        EXPECT_EQ(std::count(raw.begin() + static_cast<std::ptrdiff_t>(size), raw.end(), 0x1A),
                  static_cast<std::ptrdiff_t>(raw.size() - size));
    }
}

TEST_F(SenderFixture, EmptyPayloadIsAnnouncedWithSizeZero) {
    EXPECT_TRUE(SendBytes({}, "empty.bin"));
    EXPECT_EQ(rx.Kinds(), Expected({Kind::Header, Kind::Eot, Kind::Eot, Kind::EndOfBatch}));
    EXPECT_EQ(rx.Name(), "empty.bin");
    EXPECT_EQ(rx.SizeText(), "0");
    EXPECT_EQ(modem.bytesLeft, 0);
}

TEST_F(SenderFixture, BlockNumbersWrapAfterFF) {
    const Bytes payload = RandomBytes(1024 * 257 + 5, 11);
    EXPECT_TRUE(SendBytes(payload));
    std::vector<Received> data;
    for (const auto& r : rx.Log()) {
        if (r.kind == Kind::Data) data.push_back(r);
    }
    ASSERT_EQ(data.size(), 258u);
    EXPECT_EQ(data[254].number, 0xFF);
    EXPECT_EQ(data[255].number, 0x00);
    EXPECT_EQ(data[255].bytes[2], 0xFF);
    EXPECT_EQ(data[256].number, 0x01);
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(modem.packetNum, 259);
}

TEST_F(SenderFixture, NakOrCResendsTheIdenticalBlockWithoutReadingAgain) {
    // NAK to block 1, 'C' to block 2: each is sent again unchanged; only the NAK is an error.
    rx.onData = [](int i, uint8_t) { return Bytes{i == 0 ? kNak : i == 2 ? kC : kAck}; };
    const Bytes payload = RandomBytes(2500, 5);
    EXPECT_TRUE(SendBytes(payload));
    std::vector<Received> data;
    for (const auto& r : rx.Log()) {
        if (r.kind == Kind::Data) data.push_back(r);
    }
    ASSERT_EQ(data.size(), 5u);
    EXPECT_EQ(data[0].bytes, data[1].bytes);
    EXPECT_EQ(data[2].bytes, data[3].bytes);
    EXPECT_EQ(data[2].number, 2);
    EXPECT_EQ(data[4].number, 3);
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(modem.errorCount, 1);
}

TEST_F(SenderFixture, StrayBytesAfterTheHeaderAckCountAsErrorsNotAgainstTheBudget) {
    // 150 strays after the header and 60 during the data: only the 60 are charged.
    rx.onHeader = [](int) {
        Bytes reply{kAck};
        reply.insert(reply.end(), 150, 'x');
        reply.push_back(kC);
        return reply;
    };
    rx.onData = [](int, uint8_t) {
        Bytes reply(20, 'y');
        reply.push_back(kAck);
        return reply;
    };
    EXPECT_TRUE(SendBytes(RandomBytes(3000, 2)));
    EXPECT_EQ(modem.errorCount, 150);
    EXPECT_EQ(rx.Count(Kind::Eot), 2u);
}

TEST_F(SenderFixture, BudgetIsSharedWithTheEotPhase) {
    // 150 strays during the data leave 50 EOTs; the end of batch follows all the same.
    rx.onData = [](int i, uint8_t) {
        Bytes reply(i < 3 ? 50 : 0, 'z');
        reply.push_back(kAck);
        return reply;
    };
    rx.onEot = [](int) { return Bytes{'?'}; };
    EXPECT_TRUE(SendBytes(RandomBytes(4096, 6)));
    EXPECT_EQ(rx.Count(Kind::Eot), 50u);
    EXPECT_EQ(rx.Log().back().kind, Kind::EndOfBatch);
}

TEST_F(SenderFixture, BudgetExhaustedDuringDataCancels) {
    rx.onData = [](int i, uint8_t) {
        Bytes reply(i == 0 ? 120 : 90, 'g');
        reply.push_back(kAck);
        return reply;
    };
    EXPECT_FALSE(SendBytes(RandomBytes(4096, 6)));
    EXPECT_EQ(rx.Count(Kind::Data), 2u);
    EXPECT_EQ(rx.Count(Kind::Eot), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
    EXPECT_TRUE(modem.finished);
    EXPECT_FALSE(modem.receiverCancelled) << "stray bytes are no refusal";
}

TEST_F(SenderFixture, CanFromTheReceiverCancels) {
    rx.onData = [](int i, uint8_t) { return i == 1 ? Bytes{kCan, kCan} : Bytes{kAck}; };
    EXPECT_FALSE(SendBytes(RandomBytes(5000, 8)));
    EXPECT_EQ(rx.Count(Kind::Data), 2u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
    EXPECT_EQ(rx.Log().size(), 1u + 2u + 5u);
    EXPECT_TRUE(modem.receiverCancelled);
}

TEST_F(SenderFixture, CanWhileWaitingForCAfterTheHeaderCancels) {
    rx.onHeader = [](int) { return Bytes{kAck, kCan, kCan}; };
    EXPECT_FALSE(SendBytes(RandomBytes(10, 8)));
    EXPECT_EQ(rx.Count(Kind::Data), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
    EXPECT_TRUE(modem.receiverCancelled);
}

TEST_F(SenderFixture, FinishedFromOutsideStopsBeforeTheNextBlock) {
    rx.onData = [this](int i, uint8_t) {
        if (i == 1) modem.finished = true;
        return Bytes{kAck};
    };
    EXPECT_TRUE(SendBytes(RandomBytes(10000, 9)));
    EXPECT_EQ(rx.Count(Kind::Data), 2u);
    EXPECT_EQ(rx.Count(Kind::Eot), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

// --- The end of batch ---------------------------------------------------------------------

TEST_F(SenderFixture, ReceiverThatFlushedGetsTheBatchEndAgainOnC) {
    rx.onEndOfBatch = [](int i) { return Bytes{i == 0 ? kC : kAck}; };
    EXPECT_TRUE(SendBytes(RandomBytes(10, 1)));
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 2u);
}

TEST_F(SenderFixture, CThatCameWithTheEotAckDoesNotRepeatTheBatchEnd) {
    rx.onEot = [](int) { return Bytes{kAck, kC}; };
    EXPECT_TRUE(SendBytes(RandomBytes(10, 1)));
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 1u);
}

TEST_F(SenderFixture, BatchEndResendsAreBounded) {
    rx.onEndOfBatch = [](int) { return Bytes{kC}; };
    EXPECT_TRUE(SendBytes(RandomBytes(10, 1)));
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 1u + transfer::kYmodemMaxBatchEndResends);
}

TEST_F(SenderFixture, SilenceAfterTheBatchEndEndsWithinItsWindow) {
    rx.onEndOfBatch = [](int) { return Bytes{}; };
    testsupport::ScopedFastClock fast;
    const int64_t ms = testsupport::ElapsedTicks(
        fast.Clock(), [&] { EXPECT_TRUE(SendBytes(RandomBytes(10, 1))); });
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 1u);
    EXPECT_GE(ms, 2500);
    EXPECT_LT(ms, 10000);
}

// --- Bad receivers ------------------------------------------------------------------------

TEST_F(SenderFixture, NakOrCForEverGivesUpAfterTenResends) {
    rx.onHeader = [](int) { return Bytes{kAck, kC}; };
    rx.onData = [](int, uint8_t) { return Bytes{kNak}; };
    EXPECT_FALSE(SendBytes(RandomBytes(3000, 1)));
    EXPECT_EQ(rx.Count(Kind::Data), 1u + transfer::kYmodemMaxResends);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);

    Session asking;
    asking.rx.onHeader = [](int) { return Bytes{kC}; };
    EXPECT_FALSE(asking.Send(RandomBytes(10, 1)));
    EXPECT_EQ(asking.rx.Count(Kind::Header), 1u + transfer::kYmodemMaxResends);
}

TEST_F(SenderFixture, GarbageAfterTheHeaderAckIsBounded) {
    rx.onHeader = [](int) {
        Bytes reply{kAck};
        reply.insert(reply.end(), 300, 'q');
        return reply;
    };
    EXPECT_FALSE(SendBytes(RandomBytes(3000, 1)));
    EXPECT_EQ(modem.errorCount, transfer::kYmodemMaxSkippedBeforeC);
    EXPECT_EQ(rx.Count(Kind::Data), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

TEST_F(SenderFixture, GarbageReceiverFails) {
    uint32_t seed = 1;
    auto garbage = [&seed] { return RandomBytes(97, seed++); };
    rx.onHeader = [&](int) { return garbage(); };
    rx.onData = [&](int, uint8_t) { return garbage(); };
    rx.onEot = [&](int) { return garbage(); };
    link.buffer.ReadTimeout(300);
    EXPECT_FALSE(SendBytes(RandomBytes(3000, 1)));
    EXPECT_TRUE(modem.finished);
    EXPECT_LE(rx.Log().size(), 300u);
}

TEST_F(SenderFixture, SilentReceiverEndsAtTheReadTimeOut) {
    link.buffer.ReadTimeout(300);
    rx.onData = [](int i, uint8_t) { return i == 0 ? Bytes{kAck} : Bytes{}; };
    bool ok = true;
    const int64_t ms = testsupport::ElapsedMs([&] { ok = SendBytes(RandomBytes(3000, 1)); });
    EXPECT_FALSE(ok);
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

TEST_F(SenderFixture, VanishedReceiverEndsAtOnce) {
    // A link that reached its end answers every read at once with -1.
    rx.onData = [this](int i, uint8_t) {
        if (i == 0) return Bytes{kAck};
        if (i == 1) link.buffer.EndWrite();
        return Bytes{};
    };
    bool ok = true;
    const int64_t ms = testsupport::ElapsedMs([&] { ok = SendBytes(RandomBytes(5000, 1)); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

// --- What is refused before the transfer --------------------------------------------------

TEST_F(SenderFixture, NameOver117BytesSendsOnlyTheCancelSequence) {
    EXPECT_FALSE(SendBytes(RandomBytes(10, 1), std::string(118, 'n')));
    EXPECT_EQ(rx.Kinds(), std::vector<Kind>(5, Kind::Can));
    EXPECT_TRUE(modem.finished);
}

namespace {
// A stream that claims to be endless; reading it at all would be a fault here.
class EndlessStream : public platform::ByteStream {
public:
    int32_t Read(uint8_t*, int32_t, int32_t count) override {
        reads += 1;
        return count;
    }
    int reads = 0;
};
}  // namespace

TEST_F(SenderFixture, PayloadOverTheBlockLimitIsRefused) {
    EndlessStream source;
    const int64_t tooLong = int64_t{65535} * 1024 + 1;
    EXPECT_FALSE(modem.sendStream(source, tooLong, "big.bin", link.buffer));
    EXPECT_EQ(source.reads, 0);
    EXPECT_EQ(rx.Kinds(), std::vector<Kind>(5, Kind::Can));
}

TEST(YmodemLimits, LargestPayloadEndsWithEotNotASecondHeader) {
    // 65,535 data blocks: the block counter wraps to 0 after the last one. A counting receiver
    // instead of the recording one keeps the 64 MiB out of memory.
    FIFOStream buffer{65536, ReceiverBrand::HD};
    buffer.ReadTimeout(2000);
    int headers = 0, data = 0, eots = 0, batchEnds = 0;
    uint8_t lastNumber = 0;
    buffer.SendCommandEvent.Subscribe([&](const uint8_t* d, int32_t offset, int32_t count) {
        const uint8_t* p = d + offset;
        Bytes reply{kAck};
        if (count == 133 && p[0] == kSoh) {
            if (p[3] != 0) {
                ++headers;
                reply.push_back(kC);
            } else {
                ++batchEnds;
            }
        } else if (count == 1029 && p[0] == kStx) {
            ++data;
            lastNumber = p[1];
        } else if (count == 1 && p[0] == kEot) {
            ++eots;
        } else {
            return;
        }
        buffer.Write(reply.data(), 0, static_cast<int32_t>(reply.size()));
    });
    EndlessStream source;
    Ymodem modem;
    EXPECT_TRUE(modem.sendStream(source, int64_t{65535} * 1024, "big.bin", buffer));
    EXPECT_EQ(headers, 1);
    EXPECT_EQ(data, 65535);
    EXPECT_EQ(lastNumber, 0xFF);
    EXPECT_EQ(eots, 1);
    EXPECT_EQ(batchEnds, 1);
    EXPECT_EQ(modem.bytesLeft, 0);
}

TEST_F(SenderFixture, StreamEndingEarlyFailsInsteadOfClaimingSuccess) {
    platform::MemoryStream source(RandomBytes(1500, 1));
    EXPECT_FALSE(modem.sendStream(source, 4000, "short.bin", link.buffer));
    EXPECT_EQ(rx.Count(Kind::Eot), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

// --- Files and packed files ---------------------------------------------------------------

TEST_F(SenderFixture, PlainFileIsSentFromItsPositionUnderItsName) {
    const Bytes data = RandomBytes(5000, 12);
    WriteFile(dir / "plain.bin", data);
    EXPECT_TRUE(SendFile(dir / "plain.bin", false, 1000));
    EXPECT_EQ(rx.Name(), "plain.bin");
    EXPECT_EQ(rx.File(), Bytes(data.begin() + 1000, data.end()));
}

TEST_F(SenderFixture, PackedFileIsUnpackedAndSentUnderThePackedName) {
    const Bytes payload = RandomBytes(7000, 13);
    WriteFile(dir / "fw.ckfm", PackedFile(payload));
    EXPECT_TRUE(SendFile(dir / "fw.ckfm", true, kPackedGzipOffset));
    EXPECT_EQ(rx.Name(), "fw.ckfm");
    EXPECT_EQ(rx.SizeText(), "7000");
    EXPECT_EQ(rx.File(), payload);
}

TEST_F(SenderFixture, UnsendablePackedFilesSendOnlyTheCancelSequence) {
    Bytes corrupt = PackedFile(RandomBytes(3000, 15));
    for (size_t i = 30; i < 60; ++i) corrupt[i] ^= 0xA5;
    Bytes noDigest{0x0A, 0x11, 0x00, 0x08, 0x03, 0, 0, 0, 0, 0, 0, 0};
    const Bytes gz = Gzip(Bytes(10, 1));
    noDigest.insert(noDigest.end(), gz.begin(), gz.end());
    // Two MiB of zeros pack into a few KiB: far more than 100 times the file's length.
    const std::pair<const char*, Bytes> cases[] = {
        {"digest mismatch", PackedFile(RandomBytes(3000, 14), 3, true)},
        {"corrupt gzip", corrupt},
        {"no digest", noDigest},
        {"over the unpack limit", PackedFile(Bytes(2 << 20, 0))},
    };
    for (const auto& [what, file] : cases) {
        Session fresh;
        WriteFile(dir / "bad.ckfm", file);
        EXPECT_FALSE(fresh.SendFile(dir / "bad.ckfm", true, kPackedGzipOffset)) << what;
        EXPECT_EQ(fresh.rx.Kinds(), std::vector<Kind>(5, Kind::Can)) << what;
        EXPECT_TRUE(fresh.modem.finished) << what;
    }
}

TEST(YmodemDecompress, ReturnsThePayloadAtPositionZeroAndClosesTheFile) {
    TempDir dir;
    const Bytes payload = RandomBytes(4321, 16);
    WriteFile(dir / "ok.ckfm", PackedFile(payload));
    platform::FileStream file(dir / "ok.ckfm");
    file.Seek(kPackedGzipOffset);
    Ymodem m;
    auto stream = m.DecompressGZipFile(file);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Position(), 0);
    EXPECT_EQ(stream->Data(), payload);
    uint8_t b;
    EXPECT_THROW(file.Read(&b, 0, 1), platform::StreamError);
}

// --- The progress fields ------------------------------------------------------------------

TEST_F(SenderFixture, ProgressSeenFromAnotherThreadStaysInRange) {
    const Bytes payload = RandomBytes(200 * 1024, 17);
    std::atomic<bool> outOfRange{false};
    std::atomic<int> samples{0};
    std::thread poller([&] {
        while (!modem.finished) {
            const int32_t size = modem.fileSize, left = modem.bytesLeft;
            if (size >= 0 && (left < 0 || left > size)) outOfRange = true;
            ++samples;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    EXPECT_TRUE(SendBytes(payload));
    poller.join();
    EXPECT_FALSE(outOfRange);
    EXPECT_GT(samples, 0);
}
