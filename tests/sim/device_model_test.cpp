#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sim/sim_test_support.h"

using namespace simtest;
using sim::DeviceConfig;
using sim::DeviceMode;
using sim::DeviceModel;

namespace {

DeviceModel ModelIn(DeviceMode mode, DeviceConfig config = {}) {
    config.mode = mode;
    return DeviceModel(std::move(config));
}

std::vector<Parsed> Ask(DeviceModel& m, const Bytes& frame) {
    return Replies(m.Feed(frame));
}

// The single frame the device answered with; an empty one (and a failure) otherwise.
Parsed One(DeviceModel& m, const Bytes& frame) {
    auto r = Ask(m, frame);
    EXPECT_EQ(r.size(), 1u);
    return r.size() == 1 ? r[0] : Parsed{};
}

std::string TextOf(const Bytes& payload) {
    return std::string(payload.begin(), payload.end());
}

void UploadPatch(DeviceModel& m, const Bytes& image) {
    for (const Bytes& packet : PatchPackets(image)) {
        Parsed r = One(m, packet);
        ASSERT_TRUE(IsAck(r, 0xF4, 0x05));
    }
}

}  // namespace

TEST(DeviceModelVersion, EachModeAnnouncesItselfInA64BytePaddedText) {
    for (DeviceMode mode : {DeviceMode::Boot, DeviceMode::Patch, DeviceMode::Normal}) {
        DeviceModel m = ModelIn(mode);
        SCOPED_TRACE(sim::DeviceModeName(mode));
        Parsed r = One(m, VersionPoll());
        EXPECT_EQ(r.cls, 0x0A);
        EXPECT_EQ(r.id, 0x04);
        ASSERT_EQ(r.payload.size(), 64u);
        std::string text = TextOf(r.payload);
        EXPECT_EQ(text.substr(0, sim::DefaultVersionText(mode).size()),
                  sim::DefaultVersionText(mode));
        EXPECT_EQ(text.find_first_not_of('\0', sim::DefaultVersionText(mode).size()),
                  std::string::npos);
        const bool boot =
            text.find("BOOT") != std::string::npos || text.find("boot") != std::string::npos;
        EXPECT_EQ(boot, mode == DeviceMode::Boot);
        EXPECT_EQ(text.find("E3") != std::string::npos, mode == DeviceMode::Patch);
    }
}

TEST(DeviceModelVersion, CustomTextsBelongToTheirMode) {
    DeviceConfig c;
    c.versionText = "MDL4100 Boot V1.00";
    DeviceModel m = ModelIn(DeviceMode::Boot, c);
    EXPECT_EQ(TextOf(One(m, VersionPoll()).payload).substr(0, 18), "MDL4100 Boot V1.00");
    m.SetVersionText(std::string(100, 'x'));
    EXPECT_EQ(One(m, VersionPoll()).payload, Bytes(100, 'x'));  // longer texts are not cut to 64
    m.Feed(Reset());
    EXPECT_EQ(TextOf(One(m, VersionPoll()).payload).substr(0, 16), "MDL4200 FW V3.05");
}

TEST(DeviceModelProgram, AcknowledgementIsTheExactFrame) {
    DeviceModel m = ModelIn(DeviceMode::Boot);
    EXPECT_EQ(AllBytes(m.Feed(Program(0x26000, 0, {1, 2}))),
              (Bytes{0xF1, 0xD9, 0x05, 0x01, 0x02, 0x00, 0xF4, 0x05, 0x01, 0x18}));
    EXPECT_EQ(AllBytes(m.Feed(Program(0x12345678, 1, {1, 2}))),
              (Bytes{0xF1, 0xD9, 0x05, 0x00, 0x02, 0x00, 0xF4, 0x05, 0x00, 0x13}));
}

TEST(DeviceModelProgram, WritableAreasDependOnTheMode) {
    struct Case {
        DeviceMode mode;
        uint32_t address;
        size_t length;
        bool accepted;
    };
    const Case cases[] = {
        {DeviceMode::Boot, 0x00026000, 1024, true},  {DeviceMode::Boot, 0x90000400, 1024, true},
        {DeviceMode::Boot, 0xC0000000, 2048, false}, {DeviceMode::Boot, 0x00001000, 2, false},
        {DeviceMode::Patch, 0x00026000, 2, true},    {DeviceMode::Patch, 0x90000000, 2, false},
        {DeviceMode::Patch, 0xC1100000, 2048, true}, {DeviceMode::Normal, 0xC0080000, 2048, true},
        {DeviceMode::Normal, 0x00026000, 2, false},  {DeviceMode::Normal, 0x90000000, 2, false},
        {DeviceMode::Boot, 0x90FFFFFE, 4, false},    {DeviceMode::Normal, 0xC1FFFFFE, 2, true},
        {DeviceMode::Normal, 0xC1FFFFFE, 4, false},  {DeviceMode::Boot, 0x0001FFFE, 4, false},
        {DeviceMode::Boot, 0x90000000, 3, false},    {DeviceMode::Normal, 0xFFFFFFFE, 4, false},
    };
    for (const Case& c : cases) {
        DeviceModel m = ModelIn(c.mode);
        Bytes data = PatternImage(c.length);
        auto r = Ask(m, Program(c.address, 0, data));
        SCOPED_TRACE(std::string(sim::DeviceModeName(c.mode)) + " at " + std::to_string(c.address));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(IsAck(r[0], 0xF4, 0x05), c.accepted);
        EXPECT_EQ(IsNak(r[0], 0xF4, 0x05), !c.accepted);
        EXPECT_EQ(m.WrittenMemory().Covers(c.address, static_cast<uint32_t>(c.length)), c.accepted);
    }
}

TEST(DeviceModelProgram, EmptyOpeningFrameIsAcknowledgedOnlyInsideAnArea) {
    DeviceModel boot = ModelIn(DeviceMode::Boot);
    EXPECT_TRUE(IsAck(One(boot, Program(0x90000000, 0, {})), 0xF4, 0x05));
    EXPECT_TRUE(boot.WrittenMemory().Empty());
    DeviceModel normal = ModelIn(DeviceMode::Normal);
    EXPECT_TRUE(IsNak(One(normal, Program(0x90000000, 0, {})), 0xF4, 0x05));
    EXPECT_TRUE(IsNak(One(normal, RawFrame(0xF4, 0x05, {0, 0, 0})), 0xF4, 0x05));  // no header
}

TEST(DeviceModelBootMemory, ReadsAndIsReplacedByA64ByteWriteAtAddressZero) {
    for (DeviceMode mode : {DeviceMode::Boot, DeviceMode::Patch, DeviceMode::Normal}) {
        DeviceModel m = ModelIn(mode);
        Parsed r = One(m, BootMemRequest());
        EXPECT_EQ(r.cls, 0x0A);
        EXPECT_EQ(r.id, 0x07);
        ASSERT_EQ(r.payload.size(), 64u);
        Bytes fresh = PatternImage(64, 99);
        EXPECT_TRUE(IsAck(One(m, Program(0, 1, fresh)), 0xF4, 0x05));
        EXPECT_EQ(One(m, BootMemRequest()).payload, fresh);
        EXPECT_TRUE(IsNak(One(m, Program(0, 1, Bytes(62, 1))), 0xF4, 0x05));
        EXPECT_EQ(One(m, BootMemRequest()).payload, fresh);
    }
    DeviceModel m = ModelIn(DeviceMode::Boot);
    EXPECT_TRUE(Ask(m, RawFrame(0x0A, 0x07, {1, 2, 3, 4})).empty());  // only the empty request
}

TEST(DeviceModelPatch, WholeImageAndRunAtTheEntryStartsThePatchProgram) {
    DeviceModel m = ModelIn(DeviceMode::Boot);
    UploadPatch(m, PatternImage(sim::kPatchImageSize));
    Parsed r = One(m, RunAt(0x2622D));
    EXPECT_TRUE(IsAck(r, 0xF4, 0x06));
    EXPECT_EQ(m.Mode(), DeviceMode::Patch);
    EXPECT_NE(TextOf(One(m, VersionPoll()).payload).find("E3"), std::string::npos);
    // The patch program reaches the flash chip the boot loader could not.
    EXPECT_EQ(Ask(m, SpinorIdPoll()).size(), 1u);
}

TEST(DeviceModelPatch, RunWithoutTheWholeImageOrElsewhereOnlyAcknowledges) {
    Bytes image = PatternImage(sim::kPatchImageSize);
    {
        DeviceModel m = ModelIn(DeviceMode::Boot);
        auto packets = PatchPackets(image);
        packets.pop_back();  // last 268 bytes missing
        for (const Bytes& p : packets) m.Feed(p);
        EXPECT_TRUE(IsAck(One(m, RunAt(0x2622D)), 0xF4, 0x06));
        EXPECT_EQ(m.Mode(), DeviceMode::Boot);
    }
    {
        DeviceModel m = ModelIn(DeviceMode::Boot);
        UploadPatch(m, image);
        EXPECT_TRUE(IsAck(One(m, RunAt(0x26000)), 0xF4, 0x06));
        EXPECT_EQ(m.Mode(), DeviceMode::Boot);
    }
    {
        DeviceModel m = ModelIn(DeviceMode::Normal);
        for (const Bytes& p : PatchPackets(image)) EXPECT_TRUE(IsNak(One(m, p), 0xF4, 0x05));
        EXPECT_TRUE(IsAck(One(m, RunAt(0x2622D)), 0xF4, 0x06));
        EXPECT_EQ(m.Mode(), DeviceMode::Normal);
    }
}

TEST(DeviceModelPatch, ResetLosesTheUploadedImage) {
    DeviceModel m = ModelIn(DeviceMode::Boot);
    UploadPatch(m, PatternImage(sim::kPatchImageSize));
    m.Feed(Reset());
    m.SetMode(DeviceMode::Boot);
    Ask(m, RunAt(0x2622D));
    EXPECT_EQ(m.Mode(), DeviceMode::Boot);
    // What was written stays visible to tests.
    EXPECT_TRUE(m.WrittenMemory().Covers(0x26000, sim::kPatchImageSize));
}

TEST(DeviceModelPatch, RequiredImageMustMatchByteForByte) {
    Bytes image = PatternImage(sim::kPatchImageSize);
    DeviceConfig c;
    c.requiredPatchImage = image;
    DeviceModel wrong = ModelIn(DeviceMode::Boot, c);
    Bytes altered = image;
    altered[5000] ^= 1;
    UploadPatch(wrong, altered);
    Ask(wrong, RunAt(0x2622D));
    EXPECT_EQ(wrong.Mode(), DeviceMode::Boot);
    DeviceModel right = ModelIn(DeviceMode::Boot, c);
    UploadPatch(right, image);
    Ask(right, RunAt(0x2622D));
    EXPECT_EQ(right.Mode(), DeviceMode::Patch);
}

TEST(DeviceModelSpinor, IdAnswersOnlyWhenTheFlashIsReachable) {
    DeviceModel boot = ModelIn(DeviceMode::Boot);
    EXPECT_TRUE(Ask(boot, SpinorIdPoll()).empty());
    for (DeviceMode mode : {DeviceMode::Patch, DeviceMode::Normal}) {
        DeviceModel m = ModelIn(mode);
        Parsed r = One(m, SpinorIdPoll());
        EXPECT_EQ(r.cls, 0xF4);
        EXPECT_EQ(r.id, 0x30);
        EXPECT_EQ(r.payload, (Bytes{0xC2, 0x20, 0x18, 0x00}));
        m.SetSpinorId({0xFF, 0xFF, 0x00, 0x00});
        EXPECT_EQ(One(m, SpinorIdPoll()).payload, (Bytes{0xFF, 0xFF, 0x00, 0x00}));
    }
}

TEST(DeviceModelSpinor, ReadsReturnRecordsAtTheirBoundariesAndErasedFlashAfter) {
    auto sample = sim::SamplePoints();
    DeviceModel m = ModelIn(DeviceMode::Patch);
    for (size_t i = 0; i < sample.size(); ++i) {
        Parsed r = One(m, SpinorRead(static_cast<uint32_t>(192 * i), 192));
        EXPECT_EQ(r.cls, 0xF4);
        EXPECT_EQ(r.id, 0x31);
        auto expected = sim::EncodePointRecord(sample[i]);
        EXPECT_EQ(r.payload, Bytes(expected.begin(), expected.end())) << "record " << i;
    }
    EXPECT_EQ(One(m, SpinorRead(static_cast<uint32_t>(192 * sample.size()), 192)).payload,
              Bytes(192, 0xFF));
    // A read across a record boundary and a short last piece.
    auto first = sim::EncodePointRecord(sample[0]);
    auto second = sim::EncodePointRecord(sample[1]);
    Bytes both(2 * 192);
    std::copy(first.begin(), first.end(), both.begin());
    std::copy(second.begin(), second.end(), both.begin() + 192);
    Bytes across(both.begin() + 96, both.begin() + 288);
    EXPECT_EQ(One(m, SpinorRead(96, 192)).payload, across);
    EXPECT_EQ(One(m, SpinorRead(192, 8)).payload, Bytes(second.begin(), second.begin() + 8));
    // Past the chip's end everything reads erased.
    EXPECT_EQ(One(m, SpinorRead(0xFFFC0, 192)).payload, Bytes(192, 0xFF));
    EXPECT_EQ(One(m, SpinorRead(0xFFFFFFF0, 64)).payload, Bytes(64, 0xFF));
}

TEST(DeviceModelSpinor, OversizedReadsAreRefusedAndTheBootLoaderIsSilent) {
    DeviceModel m = ModelIn(DeviceMode::Normal);
    Parsed big = One(m, SpinorRead(0, 9993));
    EXPECT_TRUE(IsNak(big, 0xF4, 0x31));
    EXPECT_EQ(One(m, SpinorRead(0, 9992)).payload.size(), 9992u);
    DeviceModel boot = ModelIn(DeviceMode::Boot);
    EXPECT_TRUE(Ask(boot, SpinorRead(0, 192)).empty());
}

TEST(DeviceModelControl, ResetRestartsIntoNormalFirmwareWithoutAReply) {
    for (DeviceMode mode : {DeviceMode::Boot, DeviceMode::Patch, DeviceMode::Normal}) {
        DeviceModel m = ModelIn(mode);
        EXPECT_TRUE(m.Feed(Reset()).replies.empty());
        EXPECT_EQ(m.Mode(), DeviceMode::Normal);
        EXPECT_EQ(m.ResetCount(), 1u);
    }
}

TEST(DeviceModelControl, ConfigAndUpdateCommandsAreAcknowledged) {
    DeviceModel m = ModelIn(DeviceMode::Normal);
    Bytes cfg{2, 0, 0, 0, 7, 0, 0, 0};
    EXPECT_EQ(AllBytes(m.Feed(RawFrame(0x06, 0x09, cfg))),
              (Bytes{0xF1, 0xD9, 0x05, 0x01, 0x02, 0x00, 0x06, 0x09, 0x17, 0x40}));
    EXPECT_FALSE(m.YmodemRequested());
    // The tool's update command goes out with one trailing 0x00 byte.
    Bytes fwup{0xF1, 0xD9, 0x06, 0x50, 0x01, 0x00, 0x10, 0x67, 0x71, 0x00};
    EXPECT_TRUE(IsAck(One(m, fwup), 0x06, 0x50));
    EXPECT_TRUE(m.YmodemRequested());
    m.Feed(Reset());
    EXPECT_FALSE(m.YmodemRequested());
    EXPECT_TRUE(Ask(m, RawFrame(0x06, 0x09, {2, 0})).empty());  // too short for its record
}

TEST(DeviceModelInput, UnknownFramesCountButGetNoAnswerAndBadChecksumsDoNotCount) {
    DeviceModel m = ModelIn(DeviceMode::Normal);
    EXPECT_TRUE(Ask(m, RawFrame(0x01, 0x05, {1, 2, 3})).empty());
    EXPECT_EQ(m.FramesReceived(), 1u);
    Bytes bad = VersionPoll();
    bad.back() ^= 0x40;
    EXPECT_TRUE(m.Feed(bad).replies.empty());
    EXPECT_EQ(m.FramesReceived(), 1u);
    EXPECT_EQ(m.BadFrames(), 1u);
    ASSERT_EQ(m.Journal().size(), 1u);
    EXPECT_EQ(m.Journal()[0].Code(), 0x0105);
}

TEST(DeviceModelInput, FramesSplitAcrossFeedsAreCompletedAndBackToBackFramesAllAnswered) {
    DeviceModel m = ModelIn(DeviceMode::Normal);
    Bytes frame = SpinorRead(0, 192);
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        EXPECT_TRUE(m.Feed(Bytes{frame[i]}).replies.empty()) << "byte " << i;
    }
    EXPECT_EQ(Replies(m.Feed(Bytes{frame.back()})).size(), 1u);
    EXPECT_EQ(m.PendingBytes(), 0u);

    Bytes three = VersionPoll();
    Bytes more = SpinorIdPoll();
    three.insert(three.end(), {0x00, 0xF1, 0x33});  // garbage between frames
    three.insert(three.end(), more.begin(), more.end());
    three.insert(three.end(), more.begin(), more.begin() + 3);
    auto r = Ask(m, three);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].id, 0x04);
    EXPECT_EQ(r[1].id, 0x30);
    EXPECT_EQ(m.PendingBytes(), 3u);
    EXPECT_EQ(Ask(m, Bytes(more.begin() + 3, more.end())).size(), 1u);
}

TEST(DeviceModelInput, SurvivesGarbageAndOversizedLengthsAndResynchronises) {
    DeviceModel m = ModelIn(DeviceMode::Normal);
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        Bytes chunk(rng() % 3000);
        for (auto& b : chunk) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xF1 : rng());
        if (round % 7 == 0) chunk.insert(chunk.end(), {0xF1, 0xD9, 0xF4, 0x05, 0xFF, 0xFF});
        m.Feed(chunk);
        ASSERT_LE(m.PendingBytes(), 10000u);
    }
    // At most one frame's worth of filler completes whatever partial frame is pending.
    m.Feed(Bytes(10000, 0x00));
    EXPECT_EQ(Ask(m, VersionPoll()).size(), 1u);
    // A sync with a huge length does not swallow the frame behind it.
    Bytes oversized{0xF1, 0xD9, 0x0A, 0x04, 0x20, 0x4E};
    Bytes poll = VersionPoll();
    oversized.insert(oversized.end(), poll.begin(), poll.end());
    EXPECT_EQ(Ask(m, oversized).size(), 1u);
}

TEST(DeviceModelFaults, RefusedFrameGetsANakForItsOwnCommandAndIsNotCarriedOut) {
    DeviceConfig c;
    c.faults.nakFrames = {2};
    DeviceModel m = ModelIn(DeviceMode::Boot, c);
    EXPECT_TRUE(IsAck(One(m, Program(0x26000, 0, {1, 2})), 0xF4, 0x05));
    EXPECT_TRUE(IsNak(One(m, Program(0x26002, 1, {3, 4})), 0xF4, 0x05));
    EXPECT_TRUE(IsAck(One(m, Program(0x26004, 2, {5, 6})), 0xF4, 0x05));
    EXPECT_TRUE(m.WrittenMemory().Covers(0x26000, 2));
    EXPECT_FALSE(m.WrittenMemory().Covers(0x26002, 2));
    c.faults.nakFrames = {1};
    DeviceModel v = ModelIn(DeviceMode::Boot, c);
    Parsed r = One(v, VersionPoll());
    EXPECT_TRUE(IsNak(r, 0x0A, 0x04));
}

TEST(DeviceModelFaults, SilentDeviceIgnoresFramesAfterK) {
    DeviceConfig c;
    c.faults.silentAfter = 2;
    DeviceModel m = ModelIn(DeviceMode::Boot, c);
    EXPECT_EQ(Ask(m, VersionPoll()).size(), 1u);
    EXPECT_EQ(Ask(m, Program(0x26000, 0, {1, 2})).size(), 1u);
    EXPECT_TRUE(Ask(m, Program(0x26002, 1, {3, 4})).empty());
    EXPECT_TRUE(Ask(m, VersionPoll()).empty());
    EXPECT_FALSE(m.WrittenMemory().Covers(0x26002, 2));
    EXPECT_EQ(m.Journal().size(), 4u);  // what arrived is still recorded
    c.faults.silentAfter = 0;
    DeviceModel mute = ModelIn(DeviceMode::Boot, c);
    EXPECT_TRUE(Ask(mute, VersionPoll()).empty());
}

TEST(DeviceModelFaults, DelaysSplitsAndAckOnlyDelays) {
    DeviceConfig c;
    c.faults.delayMs = 40;
    c.faults.ackDelayMs = 300;
    c.faults.splitBytes = 3;
    c.faults.splitGapMs = 7;
    DeviceModel m = ModelIn(DeviceMode::Boot, c);
    auto version = m.Feed(VersionPoll());
    ASSERT_EQ(version.replies.size(), 1u);
    EXPECT_EQ(version.replies[0].delayMs, 40u);
    EXPECT_EQ(version.replies[0].splitBytes, 3u);
    EXPECT_EQ(version.replies[0].splitGapMs, 7u);
    auto ack = m.Feed(Program(0x26000, 0, {1, 2}));
    ASSERT_EQ(ack.replies.size(), 1u);
    EXPECT_EQ(ack.replies[0].delayMs, 300u);
    EXPECT_TRUE(ack.replies[0].acknowledgement);
}

TEST(DeviceModelFaults, NoiseComesBeforeEveryReplyWithoutASyncPair) {
    auto noisy = [](uint64_t seed, uint32_t bytes) {
        DeviceConfig c;
        c.faults.noiseBytes = bytes;
        c.faults.seed = seed;
        return ModelIn(DeviceMode::Normal, c);
    };
    // Enough noise that plain random bytes would hold the pair many times over.
    const uint32_t kNoise = 300000;
    DeviceModel m = noisy(5, kNoise);
    auto result = m.Feed(VersionPoll());
    ASSERT_EQ(result.replies.size(), 1u);
    const Bytes& bytes = result.replies[0].bytes;
    ASSERT_EQ(bytes.size(), kNoise + 72u);
    for (size_t i = 0; i + 1 < kNoise; ++i) {
        ASSERT_FALSE(bytes[i] == 0xF1 && bytes[i + 1] == 0xD9) << "sync pair in noise at " << i;
    }
    auto r = ParseAll(bytes);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].id, 0x04);
    DeviceModel same = noisy(5, 64);
    DeviceModel other = noisy(6, 64);
    Bytes first = AllBytes(same.Feed(VersionPoll()));
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 64), Bytes(bytes.begin(), bytes.begin() + 64));
    EXPECT_NE(AllBytes(other.Feed(VersionPoll())), first);
    // Every reply gets its own noise.
    EXPECT_NE(AllBytes(same.Feed(VersionPoll())), first);
}

TEST(DeviceModelFaults, VanishedDeviceAnswersFrameKThenHearsNothing) {
    DeviceConfig c;
    c.faults.vanishAfter = 2;
    DeviceModel m = ModelIn(DeviceMode::Normal, c);
    Bytes two = VersionPoll();
    Bytes poll = VersionPoll();
    two.insert(two.end(), poll.begin(), poll.end());
    two.insert(two.end(), poll.begin(), poll.end());  // a third in the same write
    auto result = m.Feed(two);
    EXPECT_TRUE(result.vanish);
    EXPECT_EQ(Replies(result).size(), 2u);
    EXPECT_TRUE(m.Vanished());
    EXPECT_TRUE(m.Feed(poll).replies.empty());
    EXPECT_EQ(m.FramesReceived(), 2u);
}

TEST(DeviceModelJournal, RecordsEveryGoodFrameAndStopsKeepingPayloadsAtTheLimit) {
    DeviceConfig c;
    c.journalPayloadLimit = 10;
    DeviceModel m = ModelIn(DeviceMode::Boot, c);
    m.Feed(Program(0x26000, 0, {0xAA, 0xBB}));  // 8 payload bytes
    m.Feed(VersionPoll());
    m.Feed(Program(0x26002, 1, {0xCC, 0xDD}));  // would pass the limit
    const auto& j = m.Journal();
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0].sequence, 1u);
    EXPECT_EQ(j[0].Code(), 0xF405);
    EXPECT_EQ(j[0].payload, (Bytes{0x00, 0x60, 0x02, 0x00, 0x00, 0x00, 0xAA, 0xBB}));
    EXPECT_EQ(j[1].Code(), 0x0A04);
    EXPECT_EQ(j[1].payloadLength, 0u);
    EXPECT_EQ(j[2].sequence, 3u);
    EXPECT_EQ(j[2].payloadLength, 8u);
    EXPECT_TRUE(j[2].payloadDropped);
    EXPECT_TRUE(j[2].payload.empty());
}

namespace {

// Echoes what it gets in upper case, prompts 'C' on every timer tick, ends at 'z'.
class FakeReceiver : public sim::ByteReceiver {
public:
    explicit FakeReceiver(std::string* log) : log_(log) {}
    std::vector<uint8_t> OnBytes(std::span<const uint8_t> bytes, uint32_t) override {
        Bytes out;
        for (uint8_t b : bytes) {
            *log_ += static_cast<char>(b);
            out.push_back(static_cast<uint8_t>(std::toupper(b)));
            if (b == 'z') done_ = true;
        }
        return out;
    }
    std::vector<uint8_t> OnTimer(uint32_t) override { return {'C'}; }
    uint32_t TimerIntervalMs() const override { return 250; }
    bool Finished() const override { return done_; }

private:
    std::string* log_;
    bool done_ = false;
};

}  // namespace

TEST(DeviceModelReceiver, TakesTheLineAfterTheUpdateCommandUntilItFinishes) {
    std::string log;
    DeviceModel m = ModelIn(DeviceMode::Normal);
    m.SetReceiverFactory([&] { return std::make_unique<FakeReceiver>(&log); });
    EXPECT_FALSE(m.TimerIntervalMs().has_value());
    Bytes in = RawFrame(0x06, 0x50, {0x10});
    in.insert(in.end(), {'a', 'b'});
    auto r = m.Feed(in);
    ASSERT_EQ(r.replies.size(), 2u);
    EXPECT_TRUE(IsAck(ParseAll(r.replies[0].bytes)[0], 0x06, 0x50));
    EXPECT_EQ(r.replies[1].bytes, (Bytes{'A', 'B'}));
    EXPECT_EQ(m.TimerIntervalMs(), 250u);
    EXPECT_EQ(AllBytes(m.Timer(1000)), Bytes{'C'});
    Bytes poll = VersionPoll();
    m.Feed(poll);  // a frame while the receiver owns the line is just bytes to it
    EXPECT_EQ(m.FramesReceived(), 1u);
    m.Feed(Bytes{'z'});
    EXPECT_FALSE(m.ReceiverActive());
    EXPECT_EQ(log, "ab" + std::string(poll.begin(), poll.end()) + "z");
    EXPECT_EQ(Ask(m, VersionPoll()).size(), 1u);
}
