// The virtual navigator's YMODEM receiver: its answers block by block, its time-outs, what it
// keeps and dumps, and the sender and receiver talking to each other in memory.
#include <gtest/gtest.h>

#include "sim/device_model.h"
#include "sim/ymodem_receiver.h"
#include "support/scripted_buffer.h"
#include "transfer/ymodem.h"
#include "ymodem_test_support.h"

using namespace ymodem_test;

namespace {

Bytes Header(const std::string& name, int32_t size) {
    transfer::HeaderBlock b{};
    transfer::BuildHeaderBlock(b, name, size);
    return Bytes(b.begin(), b.end());
}

Bytes Data(uint8_t number, const Bytes& data) {
    transfer::DataBlock b{};
    transfer::BuildDataBlock(b, number, data);
    return Bytes(b.begin(), b.end());
}

Bytes BatchEnd() {
    transfer::HeaderBlock b{};
    transfer::BuildEndOfBatchBlock(b);
    return Bytes(b.begin(), b.end());
}

class ReceiverFixture : public ::testing::Test {
protected:
    Bytes Feed(const Bytes& bytes) { return rx->OnBytes(bytes, now); }
    Bytes Tick(uint32_t ms) {
        now += ms;
        return rx->OnTimer(now);
    }

    std::shared_ptr<sim::YmodemStore> store = std::make_shared<sim::YmodemStore>();
    sim::YmodemReceiverOptions options;
    std::unique_ptr<sim::YmodemReceiver> rx = std::make_unique<sim::YmodemReceiver>(store);
    uint32_t now = 1000;
};

}  // namespace

TEST_F(ReceiverFixture, AsksWithCUntilAHeaderComesThenGivesUp) {
    options.promptIntervalMs = 1000;
    options.maxPrompts = 3;
    rx = std::make_unique<sim::YmodemReceiver>(store, options);
    EXPECT_EQ(Tick(0), Bytes{kC});
    EXPECT_EQ(Tick(500), Bytes{});
    EXPECT_EQ(Tick(500), Bytes{kC});
    EXPECT_EQ(Tick(1000), Bytes{kC});
    EXPECT_FALSE(rx->Finished());
    EXPECT_EQ(Tick(1000), Bytes{});
    EXPECT_TRUE(rx->Finished());
}

TEST_F(ReceiverFixture, StandardSessionKeepsTheFile) {
    const Bytes payload = RandomBytes(1500, 31);
    EXPECT_EQ(Feed(Header("fw.bin", 1500)), (Bytes{kAck, kC}));
    EXPECT_EQ(Feed(Data(1, Bytes(payload.begin(), payload.begin() + 1024))), Bytes{kAck});
    EXPECT_EQ(Feed(Data(2, Bytes(payload.begin() + 1024, payload.end()))), Bytes{kAck});
    EXPECT_EQ(Feed(Bytes{kEot}), Bytes{kNak});
    EXPECT_EQ(Feed(Bytes{kEot}), (Bytes{kAck, kC}));
    EXPECT_FALSE(rx->Finished());
    EXPECT_EQ(Feed(BatchEnd()), Bytes{kAck});
    EXPECT_TRUE(rx->Finished());

    const auto files = store->Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "fw.bin");
    EXPECT_EQ(files[0].declaredSize, 1500);
    EXPECT_EQ(files[0].content, payload);
    EXPECT_TRUE(files[0].complete);
    EXPECT_EQ(store->BatchesEnded(), 1);
}

TEST_F(ReceiverFixture, AcksTheFirstEotWhenSoConfigured) {
    options.nakFirstEot = false;
    rx = std::make_unique<sim::YmodemReceiver>(store, options);
    Feed(Header("x", 1));
    Feed(Data(1, Bytes{7}));
    EXPECT_EQ(Feed(Bytes{kEot}), (Bytes{kAck, kC}));
}

TEST_F(ReceiverFixture, BlocksSplitOverManyWritesAndNoiseBetweenThem) {
    Bytes all = Header("split.bin", 3);
    const Bytes block = Data(1, Bytes{1, 2, 3});
    all.insert(all.end(), {'n', 'o'});  // noise between blocks is skipped
    all.insert(all.end(), block.begin(), block.end());
    Bytes out;
    for (size_t i = 0; i < all.size(); i += 7) {
        const Bytes piece(all.begin() + i, all.begin() + std::min(all.size(), i + 7));
        const Bytes reply = Feed(piece);
        out.insert(out.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(out, (Bytes{kAck, kC, kAck}));
    EXPECT_EQ(store->Files().at(0).content, (Bytes{1, 2, 3}));
}

TEST_F(ReceiverFixture, DamagedBlockIsNakedAndARepeatIsAckedOnce) {
    Feed(Header("d.bin", 2048));
    Bytes bad = Data(1, RandomBytes(1024, 1));
    bad[500] ^= 1;
    EXPECT_EQ(Feed(bad), Bytes{kNak});
    const Bytes good = Data(1, RandomBytes(1024, 1));
    EXPECT_EQ(Feed(good), Bytes{kAck});
    EXPECT_EQ(Feed(good), Bytes{kAck});
    EXPECT_EQ(store->Files().at(0).content.size(), 1024u);
}

TEST_F(ReceiverFixture, RepeatedHeaderIsAckedAgain) {
    Feed(Header("h.bin", 10));
    EXPECT_EQ(Feed(Header("h.bin", 10)), Bytes{kAck});
    EXPECT_EQ(store->Files().size(), 1u);
}

TEST_F(ReceiverFixture, OutOfOrderBlockCancels) {
    Feed(Header("o.bin", 4096));
    EXPECT_EQ(Feed(Data(3, Bytes(1024, 1))), (Bytes{kCan, kCan}));
    EXPECT_TRUE(rx->Finished());
    EXPECT_EQ(store->Cancelled(), 1);
    EXPECT_FALSE(store->Files().at(0).complete);
}

TEST_F(ReceiverFixture, TwoCansFromTheSenderCancel) {
    Feed(Header("c.bin", 4096));
    EXPECT_EQ(Feed(Bytes{kCan}), Bytes{});
    EXPECT_FALSE(rx->Finished());
    Feed(Bytes{kCan, kCan, kCan, kCan});
    EXPECT_TRUE(rx->Finished());
    EXPECT_EQ(store->Cancelled(), 1);
}

TEST_F(ReceiverFixture, HalfABlockIsDroppedAfterItsTimeOut) {
    Feed(Header("t.bin", 1024));
    const Bytes block = Data(1, Bytes(1024, 9));
    Feed(Bytes(block.begin(), block.begin() + 500));
    EXPECT_EQ(Tick(500), Bytes{});
    EXPECT_EQ(Tick(600), Bytes{kNak});
    EXPECT_EQ(Feed(block), Bytes{kAck});
}

TEST_F(ReceiverFixture, SilentSenderIsGivenUpAfterTheTimeOuts) {
    options.idleTimeoutMs = 1000;
    options.maxTimeouts = 2;
    rx = std::make_unique<sim::YmodemReceiver>(store, options);
    Feed(Header("s.bin", 1024));
    EXPECT_EQ(Tick(1000), Bytes{kNak});
    EXPECT_EQ(Tick(1000), Bytes{kNak});
    EXPECT_EQ(Tick(1000), (Bytes{kNak, kCan, kCan}));
    EXPECT_TRUE(rx->Finished());
}

TEST_F(ReceiverFixture, CompleteFilesAreDumped) {
    TempDir dir;
    store = std::make_shared<sim::YmodemStore>(dir.path().string());
    rx = std::make_unique<sim::YmodemReceiver>(store);
    Feed(Header("\xE6\x97\xA5.bin", 5));
    Feed(Data(1, Bytes{1, 2, 3, 4, 5}));
    Feed(Bytes{kEot});
    Feed(Bytes{kEot});
    EXPECT_EQ(ReadFile(dir / "ymodem_0.bin"), (Bytes{1, 2, 3, 4, 5}));
    const Bytes list = ReadFile(dir / "ymodem.txt");
    EXPECT_EQ(std::string(list.begin(), list.end()), "0\t5\t1\t\xE6\x97\xA5.bin\n");
}

TEST(YmodemReceiverInModel, TakesTheLineAfterTheUpdateCommandAndGivesItBack) {
    auto store = std::make_shared<sim::YmodemStore>();
    sim::DeviceModel model;
    model.SetReceiverFactory(sim::MakeYmodemReceiverFactory(store));
    const Bytes fwup = MakeFrame(CFG_FWUP, Bytes{16});
    // The header follows the command in the same write: it belongs to the receiver.
    Bytes input = fwup;
    const Bytes header = Header("m.bin", 0);
    input.insert(input.end(), header.begin(), header.end());
    auto result = model.Feed(input, 0);
    ASSERT_EQ(result.replies.size(), 2u);
    EXPECT_EQ(result.replies[1].bytes, (Bytes{kAck, kC}));
    EXPECT_TRUE(model.ReceiverActive());
    model.Feed(Bytes{kEot}, 10);
    model.Feed(Bytes{kEot}, 20);
    model.Feed(BatchEnd(), 30);
    EXPECT_FALSE(model.ReceiverActive()) << "the batch end returns the line to frames";
    ASSERT_EQ(store->Files().size(), 1u);
    EXPECT_TRUE(store->Files()[0].complete);
    EXPECT_TRUE(store->Files()[0].content.empty());
}

// --- Sender and receiver together -----------------------------------------------------------

TEST(YmodemLoopback, SenderAndReceiverAgreeOnALargeFile) {
    auto store = std::make_shared<sim::YmodemStore>();
    sim::YmodemReceiver rx(store);
    uint32_t now = 0;
    testsupport::ScriptedBuffer link([&](testsupport::ScriptedBuffer& b, const Bytes& sent) {
        const Bytes reply = rx.OnBytes(sent, now += 5);
        if (!reply.empty()) b.Feed(reply);
    });
    link.buffer.ReadTimeout(2000);
    const Bytes payload = RandomBytes(1024 * 300 + 77, 41);
    platform::MemoryStream source(payload);
    transfer::Ymodem modem;
    EXPECT_TRUE(
        modem.sendStream(source, static_cast<int64_t>(payload.size()), "loop.bin", link.buffer));
    EXPECT_TRUE(rx.Finished());
    EXPECT_EQ(store->BatchesEnded(), 1);
    ASSERT_EQ(store->Files().size(), 1u);
    EXPECT_EQ(store->Files()[0].content, payload);
    EXPECT_EQ(store->Files()[0].name, "loop.bin");
}
