#include "protocol/device_commands.h"

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <numeric>
#include <optional>
#include <random>

#include "platform/tick.h"
#include "protocol/frame_wait.h"
#include "support/fake_clock.h"
#include "support/scripted_buffer.h"
#include "support/sim_link.h"

namespace {

using testsupport::AckFrame;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Corrupted;
using testsupport::ElapsedMs;
using testsupport::ScriptedBuffer;
using testsupport::VersionReply;

const Bytes kVersionPoll{0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};

int32_t DeadlineIn(int32_t ms) {
    return static_cast<int32_t>(platform::TickCount()) + ms;
}

// Window fields the command set works on.
struct Fields {
    bool patchStatus = false;
    uint8_t bootMemory[kBootMemoryLength] = {};
    int32_t kroType = 0;
    DeviceCommands commands{patchStatus, bootMemory, kroType};
};

// A device that answers every frame it receives with `reply`.
ScriptedBuffer::Responder AnswerWith(Bytes reply) {
    return [reply](ScriptedBuffer& dev, const Bytes&) {
        if (!reply.empty()) dev.Feed(reply);
    };
}

Bytes SpinorReply(uint8_t id0, uint8_t id1) {
    const FUR_PACKET_BOOT2_SPINORID_DATA id{{id0, id1, 0x18, 0x00}};
    return MakeFrame(BOOT2_SPINORID_DATA, RecordBytes(id));
}

Bytes BootMemoryReply(std::size_t length, uint8_t first = 0x40) {
    Bytes payload(length);
    std::iota(payload.begin(), payload.end(), first);
    return MakeFrame(BOOTMEM_DATA, payload);
}

// Runs `query` on a clock that stands still, so it can only end on a reply that decides it.
// Nothing when it did not end within 5 s of real time (the clock is then moved past every
// deadline to release it).
std::optional<bool> DecidedWithoutTimePassing(const std::function<bool()>& query) {
    testsupport::FakeClock& clock = testsupport::KeptFakeClock();
    platform::ScopedClock use(clock);
    auto run = std::async(std::launch::async, query);
    if (run.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return run.get();
    clock.Advance(10000);
    run.wait();
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// WaitForAck

TEST(WaitForAck, PositiveAcknowledgementOfEveryListedPair) {
    const uint8_t pairs[][2] = {{0xF4, 0x05}, {0xF4, 0x06}, {0xF4, 0x09}, {0x06, 0x50},
                                {0x06, 0x09}, {0x06, 0x0A}, {0x06, 0x00}};
    for (const auto& pair : pairs) {
        ScriptedBuffer dev;
        dev.Feed(AckFrame(true, pair[0], pair[1]));
        EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(1000), BOOT2_FWPG), kAckAccepted)
            << std::hex << int(pair[0]) << " " << int(pair[1]);
    }
}

TEST(WaitForAck, RefusalOfProgramFrameEndsAtOnce) {
    ScriptedBuffer dev;
    dev.Feed(AckFrame(false, 0xF4, 0x05));
    int32_t result = -1;
    const auto ms = ElapsedMs([&] { result = WaitForAck(&dev.buffer, DeadlineIn(3000), 0); });
    EXPECT_EQ(result, kAckRefused);
    EXPECT_LT(ms, 500);
}

TEST(WaitForAck, OtherRefusalsAndUnlistedAcknowledgementsAreIgnoredUntilTheDeadline) {
    ScriptedBuffer dev;
    dev.Feed(Concat({AckFrame(false, 0x06, 0x50), AckFrame(false, 0xF4, 0x06),
                     AckFrame(true, 0xF4, 0x07), AckFrame(true, 0x06, 0x40),
                     AckFrame(true, 0x0A, 0x04)}));
    int32_t result = -1;
    const auto ms = ElapsedMs([&] { result = WaitForAck(&dev.buffer, DeadlineIn(200), 0); });
    EXPECT_EQ(result, kAckTimeout);
    // The deadline gets 50 ms of grace.
    EXPECT_GE(ms, 245);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(dev.buffer.Count(), 0);
}

TEST(WaitForAck, AcknowledgementBehindNoiseAndUnrelatedFramesInOneRead) {
    ScriptedBuffer dev;
    dev.Feed(Concat({Bytes{0x00, 0xF1, 0x13, 0xD9, 0xF1}, VersionReply("MDL4200 BOOT V2.10"),
                     Corrupted(AckFrame(true, 0xF4, 0x05)), AckFrame(false, 0x06, 0x50),
                     Bytes{0x55, 0xAA}, AckFrame(true, 0xF4, 0x05)}));
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(1000), BOOT2_FWPG), kAckAccepted);
}

TEST(WaitForAck, DeadlineAlreadyPastReturnsWithoutReading) {
    ScriptedBuffer dev;
    int lowBufferEvents = 0;
    dev.buffer.LowBuffer.Subscribe([&](FIFOStream*) { ++lowBufferEvents; });
    dev.Feed(AckFrame(true, 0xF4, 0x05));
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(-100), 0), kAckTimeout);
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(-60), 0), kAckTimeout);
    EXPECT_EQ(dev.buffer.Count(), 10);
    EXPECT_EQ(lowBufferEvents, 0);
    // Inside the grace period the waiting acknowledgement still counts.
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(-20), 0), kAckAccepted);
    EXPECT_EQ(WaitForAck(nullptr, DeadlineIn(1000), 0), kAckTimeout);
}

TEST(WaitForAck, AcknowledgementFromAnotherThreadWakesTheWaitPromptly) {
    ScriptedBuffer dev;
    const Bytes ack = AckFrame(true, 0xF4, 0x05);
    // Split inside the frame: the first half must be kept until the rest arrives.
    dev.FeedLater(Bytes(ack.begin(), ack.begin() + 4), 100);
    dev.FeedLater(Bytes(ack.begin() + 4, ack.end()), 200);
    int32_t result = -1;
    const auto ms = ElapsedMs([&] { result = WaitForAck(&dev.buffer, DeadlineIn(3000), 0); });
    EXPECT_EQ(result, kAckAccepted);
    EXPECT_GE(ms, 150);  // the helper threads started before the clock did
    EXPECT_LT(ms, 1000);
}

TEST(WaitForAck, EveryWaitEndsAtOnceWhenTheLinkIsGone) {
    // The clock stands still: only the failed source can end these waits.
    const struct {
        const char* name;
        std::function<bool(FIFOStream&)> wait;
    } cases[] = {
        {"acknowledgement",
         [](FIFOStream& b) { return WaitForAck(&b, DeadlineIn(10000), 0) != kAckTimeout; }},
        {"query",
         [](FIFOStream& b) {
             Fields f;
             return f.commands.CheckUsbVersion(&b);
         }},
        {"record",
         [](FIFOStream& b) {
             return WaitForFramePayload(b, VERSION_DATA, platform::TickCount() + 10000).has_value();
         }},
    };
    for (const auto& c : cases) {
        ScriptedBuffer dev;
        dev.Feed(Bytes{0xF1, 0xD9, 0x0A});  // the start of an answer that never ends
        std::thread gone([&dev] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            dev.buffer.EndRead();
        });
        EXPECT_EQ(DecidedWithoutTimePassing([&] { return c.wait(dev.buffer); }), false) << c.name;
        gone.join();
    }
}

TEST(WaitForAck, WaitingDoesNotSpinTheProcessor) {
    ScriptedBuffer dev;
    const std::clock_t cpuStart = std::clock();
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(400), 0), kAckTimeout);
    const double cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 150.0);
}

TEST(WaitForAck, FrameLongerThanTheWorkArrayNeverCompletes) {
    ScriptedBuffer dev;
    // A well-formed 5,000-byte frame, then the acknowledgement: the long frame fills the work
    // array for good, so the acknowledgement behind it is never reached.
    Bytes big = MakeFrame(static_cast<FUR_CMD_NAME>(BOOT2_FWPG), Bytes(4992, 0x11));
    ASSERT_EQ(big.size(), 5000u);
    dev.Feed(Concat({big, AckFrame(true, 0xF4, 0x05)}));
    const std::clock_t cpuStart = std::clock();
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(200), 0), kAckTimeout);
    EXPECT_LT(1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC, 150.0);
}

TEST(WaitForAck, OversizedLengthFieldsAndBadChecksumsDoNotHideTheAcknowledgement) {
    ScriptedBuffer dev;
    dev.Feed(Concat({Bytes{0xF1, 0xD9, 0x05, 0x01, 0xFF, 0xFF, 0xF4, 0x05},
                     Corrupted(AckFrame(false, 0xF4, 0x05)), AckFrame(true, 0x06, 0x50)}));
    EXPECT_EQ(WaitForAck(&dev.buffer, DeadlineIn(1000), CFG_FWUP), kAckAccepted);
}

TEST(WaitForAck, SurvivesRandomByteStreams) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 60; ++round) {
        ScriptedBuffer dev;
        Bytes junk(1 + rng() % 9000);
        for (auto& b : junk) b = static_cast<uint8_t>(rng());
        // Seed the noise with frame starts, some with huge or truncated lengths.
        for (int k = 0; k < 6; ++k) {
            const std::size_t at = rng() % junk.size();
            const uint8_t head[] = {0xF1,           0xD9,
                                    0x05,           uint8_t(rng() % 2),
                                    uint8_t(rng()), uint8_t(rng() % 3 == 0 ? 0xFF : rng() % 40)};
            for (std::size_t j = 0; j < sizeof head && at + j < junk.size(); ++j) {
                junk[at + j] = head[j];
            }
        }
        dev.Feed(junk);
        const int32_t result = WaitForAck(&dev.buffer, DeadlineIn(-45), 0);
        EXPECT_TRUE(result == 0 || result == 1 || result == 2);
    }
}

// ---------------------------------------------------------------------------------------------
// One-shot queries

TEST(VersionQuery, BootStageIsRecognisedInUpperOrLowerCase) {
    for (const char* text : {"MDL4200 BOOT V2.10", "mdl4100 boot v1.00"}) {
        Fields f;
        ScriptedBuffer dev(AnswerWith(VersionReply(text)));
        bool boot = false;
        const auto ms = ElapsedMs([&] { boot = f.commands.CheckUsbVersion(&dev.buffer); });
        EXPECT_TRUE(boot) << text;
        EXPECT_LT(ms, 1000);
        ASSERT_EQ(dev.Sent().size(), 1u);
        EXPECT_EQ(dev.Sent()[0], kVersionPoll);
    }
}

TEST(VersionQuery, PatchProgramIsRecognisedAndRemembered) {
    Fields f;
    ScriptedBuffer dev(AnswerWith(VersionReply("MDL4200 E3 PATCH V1.02")));
    EXPECT_TRUE(f.commands.CheckPatchVersion(&dev.buffer));
    EXPECT_TRUE(f.patchStatus);
    EXPECT_EQ(dev.Sent().at(0), kVersionPoll);
}

TEST(VersionQuery, ReplySplitOverTwoReadsIsRecognised) {
    const Bytes reply = VersionReply("MDL4200 BOOT V2.10");
    for (std::size_t cut : {1u, 2u, 5u, 6u, 7u, 20u, 71u}) {
        Fields f;
        ScriptedBuffer dev([&](ScriptedBuffer& d, const Bytes&) {
            d.Feed(Bytes(reply.begin(), reply.begin() + cut));
            d.FeedLater(Bytes(reply.begin() + cut, reply.end()), 60);
        });
        EXPECT_TRUE(f.commands.CheckUsbVersion(&dev.buffer)) << "cut at " << cut;
    }
}

TEST(VersionQuery, ReplyStraddlingTwoReadsOfOneBurst) {
    // 100 bytes of noise and frames come first, all at once: the 72-byte reply straddles the
    // boundary of the first 128-byte read.
    Fields f;
    Bytes lead(50, 0x20);
    ScriptedBuffer dev(AnswerWith(
        Concat({lead, AckFrame(true, 0xF4, 0x05), BootMemoryReply(32), VersionReply("E3 patch")})));
    EXPECT_TRUE(f.commands.CheckPatchVersion(&dev.buffer));
    EXPECT_TRUE(f.patchStatus);
}

TEST(VersionQuery, ReplyBehindAHeaderAnnouncingAnOverlongFrame) {
    Fields f;
    ScriptedBuffer dev(AnswerWith(Concat(
        {Bytes{0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x02, 0x41}, VersionReply("MDL4200 BOOT V2.10")})));
    EXPECT_TRUE(f.commands.CheckUsbVersion(&dev.buffer));
}

TEST(VersionQuery, CorruptFramesAndOtherKindsDoNotDecide) {
    Fields f;
    ScriptedBuffer dev([](ScriptedBuffer& d, const Bytes&) {
        d.Feed(Concat({Corrupted(VersionReply("MDL4200 FW")), BootMemoryReply(64),
                       AckFrame(true, 0x0A, 0x04)}));
        d.FeedLater(VersionReply("MDL4200 BOOT V2.10"), 150);
    });
    EXPECT_TRUE(f.commands.CheckUsbVersion(&dev.buffer));
}

// The first valid reply of the expected kind decides its query at once, either way.
TEST(VersionQuery, FirstValidReplyDecidesAtOnce) {
    struct Case {
        const char* name;
        Bytes reply;
        std::function<bool(Fields&, FIFOStream*)> query;
        bool expected;
        bool patchQuery = false;
    };
    auto usb = [](Fields& f, FIFOStream* s) { return f.commands.CheckUsbVersion(s); };
    auto patch = [](Fields& f, FIFOStream* s) { return f.commands.CheckPatchVersion(s); };
    auto spinor = [](Fields& f, FIFOStream* s) { return f.commands.CheckSpinorId(s); };
    auto bootmem = [](Fields& f, FIFOStream* s) { return f.commands.bootMemoryRead(s); };
    const std::vector<Case> cases = {
        {"boot loader to the patch check", VersionReply("MDL4200 BOOT V2.10"), patch, false, true},
        {"normal firmware to the mode check", VersionReply("MDL4200 FW V3.05"), usb, false},
        {"Boot only", VersionReply("MDL4200 Boot V2.10"), usb, false},
        {"boot loader to the mode check", VersionReply("MDL4200 BOOT V2.10"), usb, true},
        {"patch program", VersionReply("MDL4200 E3 PATCH"), patch, true, true},
        {"spinor FF 12 before a good id",
         Concat({SpinorReply(0xFF, 0x12), SpinorReply(0xC2, 0x20)}), spinor, false},
        {"spinor C2 20", SpinorReply(0xC2, 0x20), spinor, true},
        {"boot memory 63 before 64", Concat({BootMemoryReply(63), BootMemoryReply(64)}), bootmem,
         false},
    };
    for (const auto& c : cases) {
        Fields f;
        f.patchStatus = !c.expected;
        ScriptedBuffer dev(AnswerWith(c.reply));
        const auto decided = DecidedWithoutTimePassing([&] { return c.query(f, &dev.buffer); });
        ASSERT_TRUE(decided.has_value()) << c.name << ": waited for the deadline";
        EXPECT_EQ(*decided, c.expected) << c.name;
        if (c.patchQuery) {
            EXPECT_EQ(f.patchStatus, c.expected) << c.name;
        }
    }
}

// A reply that waited in the buffer before the query answers an earlier one.
TEST(VersionQuery, StaleReplyInTheBufferDoesNotDecide) {
    for (const bool boot : {true, false}) {
        Fields f;
        ScriptedBuffer dev(AnswerWith(VersionReply(boot ? "MDL4200 BOOT" : "MDL4200 FW V3.05")));
        dev.Feed(VersionReply(boot ? "MDL4200 FW V3.05" : "MDL4200 BOOT"));
        EXPECT_EQ(f.commands.CheckUsbVersion(&dev.buffer), boot);
    }
}

TEST(SpinorId, PlausibleIdBehindCorruptOnes) {
    Fields f;
    ScriptedBuffer dev(AnswerWith(Concat(
        {Corrupted(SpinorReply(0xFF, 0xFF)), VersionReply("BOOT"), SpinorReply(0xC2, 0x20)})));
    EXPECT_TRUE(f.commands.CheckSpinorId(&dev.buffer));
    EXPECT_EQ(dev.Sent().at(0), (Bytes{0xF1, 0xD9, 0xF4, 0x30, 0x00, 0x00, 0x24, 0x60}));
}

TEST(BootMemory, ReadCopiesExactlySixtyFourBytes) {
    Fields f;
    ScriptedBuffer dev(
        AnswerWith(Concat({Corrupted(BootMemoryReply(64, 0x01)), BootMemoryReply(64)})));
    ASSERT_TRUE(f.commands.bootMemoryRead(&dev.buffer));
    for (std::size_t i = 0; i < kBootMemoryLength; ++i) {
        EXPECT_EQ(f.bootMemory[i], static_cast<uint8_t>(0x40 + i)) << i;
    }
    EXPECT_EQ(dev.Sent().at(0), (Bytes{0xF1, 0xD9, 0x0A, 0x07, 0x00, 0x00, 0x11, 0x3D}));
}

// Nothing here decides a query: every case must end false at the 2,000 ms deadline; they run
// side by side.
TEST(QueryTimeouts, UndecidedQueriesRunToTheDeadline) {
    testsupport::ScopedFastClock fast;
    struct Case {
        const char* name;
        Bytes reply;
        std::function<bool(Fields&, FIFOStream*)> query;
        bool patchQuery = false;
    };
    auto usb = [](Fields& f, FIFOStream* s) { return f.commands.CheckUsbVersion(s); };
    auto patch = [](Fields& f, FIFOStream* s) { return f.commands.CheckPatchVersion(s); };
    auto spinor = [](Fields& f, FIFOStream* s) { return f.commands.CheckSpinorId(s); };
    auto bootmem = [](Fields& f, FIFOStream* s) { return f.commands.bootMemoryRead(s); };
    Bytes garbage(3000);
    std::mt19937 rng(7);
    for (auto& b : garbage) b = static_cast<uint8_t>(rng() % 0xF0);
    const std::vector<Case> cases = {
        {"BOOT, bad checksum", Corrupted(VersionReply("BOOT")), usb},
        {"E3, bad checksum", Corrupted(VersionReply("E3")), patch, true},
        {"no reply", {}, patch, true},
        {"spinor, bad checksum", Corrupted(SpinorReply(0xC2, 0x20)), spinor},
        {"boot memory, bad checksum", Corrupted(BootMemoryReply(64)), bootmem},
        {"version reply to spinor query", VersionReply("BOOT"), spinor},
        {"acknowledgement to version query", AckFrame(true, 0x0A, 0x04), usb},
        {"garbage", garbage, usb},
    };
    std::vector<std::future<std::pair<bool, int64_t>>> runs;
    std::vector<std::unique_ptr<Fields>> fields;
    std::vector<std::unique_ptr<ScriptedBuffer>> devices;
    for (const auto& c : cases) {
        fields.push_back(std::make_unique<Fields>());
        fields.back()->patchStatus = true;  // a failed patch query must clear it
        devices.push_back(std::make_unique<ScriptedBuffer>(AnswerWith(c.reply)));
        runs.push_back(std::async(std::launch::async,
                                  [&c, &fast, f = fields.back().get(), d = devices.back().get()] {
                                      bool result = true;
                                      const auto ms = testsupport::ElapsedTicks(
                                          fast.Clock(), [&] { result = c.query(*f, &d->buffer); });
                                      return std::make_pair(result, ms);
                                  }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto [result, ms] = runs[i].get();
        EXPECT_FALSE(result) << cases[i].name;
        EXPECT_GE(ms, 1990) << cases[i].name;
        EXPECT_LT(ms, 4000) << cases[i].name;
        // A patch query that runs out clears the flag; the others leave it alone.
        EXPECT_EQ(fields[i]->patchStatus, !cases[i].patchQuery) << cases[i].name;
    }
}

TEST(QueryTimeouts, NoBufferFailsQuietly) {
    Fields f;
    f.patchStatus = true;
    EXPECT_FALSE(f.commands.CheckUsbVersion(nullptr));
    EXPECT_FALSE(f.commands.CheckPatchVersion(nullptr));
    EXPECT_FALSE(f.patchStatus);
    EXPECT_FALSE(f.commands.CheckSpinorId(nullptr));
    EXPECT_FALSE(f.commands.bootMemoryRead(nullptr));
    EXPECT_FALSE(f.commands.bootMemoryWrite(nullptr));
    EXPECT_FALSE(f.commands.FwUpCmd(nullptr));
    f.commands.SendResetCmd(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Senders

TEST(Senders, FirmwareUpdateModeSendsTenBytesAndWaitsForItsAcknowledgement) {
    Fields f;
    ScriptedBuffer dev(AnswerWith(AckFrame(true, 0x06, 0x50)));
    EXPECT_TRUE(f.commands.FwUpCmd(&dev.buffer));
    ASSERT_EQ(dev.Sent().size(), 1u);
    EXPECT_EQ(dev.Sent()[0], (Bytes{0xF1, 0xD9, 0x06, 0x50, 0x01, 0x00, 0x10, 0x67, 0x71, 0x00}));
}

TEST(Senders, RefusedFirmwareUpdateModeIsNoSuccess) {
    Fields f;
    // A refusal of a program frame ends any acknowledgement wait at once, whatever was sent.
    ScriptedBuffer dev(AnswerWith(AckFrame(false, 0xF4, 0x05)));
    EXPECT_FALSE(f.commands.FwUpCmd(&dev.buffer));
}

TEST(Senders, BootMemoryWriteCarriesTheStoredBytes) {
    Fields f;
    for (std::size_t i = 0; i < kBootMemoryLength; ++i) f.bootMemory[i] = uint8_t(0xA0 ^ i);
    ScriptedBuffer dev(AnswerWith(AckFrame(true, 0xF4, 0x05)));
    EXPECT_TRUE(f.commands.bootMemoryWrite(&dev.buffer));
    ASSERT_EQ(dev.Sent().size(), 1u);
    const Bytes frame = dev.Sent().at(0);
    ASSERT_EQ(frame.size(), 78u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 12),
              (Bytes{0xF1, 0xD9, 0xF4, 0x05, 70, 0x00, 0, 0, 0, 0, 1, 0}));
    EXPECT_TRUE(std::equal(frame.begin() + 12, frame.begin() + 76, std::begin(f.bootMemory)));
    FUR_DATA parsed{PARSE_NO_FRAME, FUR_CMD_NAME{}, 0, 0};
    EXPECT_EQ(parsefur(frame.data(), 78, &parsed), 78u);
    EXPECT_EQ(parsed.status, PARSE_OK);
}

TEST(Senders, ResetIsSentWithoutWaiting) {
    Fields f;
    ScriptedBuffer dev;
    const auto ms = ElapsedMs([&] { f.commands.SendResetCmd(&dev.buffer); });
    EXPECT_LT(ms, 100);
    ASSERT_EQ(dev.Sent().size(), 1u);
    EXPECT_EQ(dev.Sent()[0], (Bytes{0xF1, 0xD9, 0x06, 0x40, 0x01, 0x00, 0x00, 0x47, 0x21}));
}

TEST(BootProbes, ProbeConnectsQueriesAndDisconnects) {
    Fields f;
    ScriptedBuffer boot(AnswerWith(VersionReply("BOOT")));
    std::vector<std::string> calls;
    ConnectionHooks hooks{[&] {
                              calls.push_back("connect");
                              return true;
                          },
                          [&] { return &boot.buffer; },
                          [&] {
                              calls.push_back("disconnect");
                              return true;
                          }};
    EXPECT_FALSE(f.commands.usbIntoBootOne(hooks));  // device reports its boot stage
    EXPECT_EQ(calls, (std::vector<std::string>{"connect", "disconnect"}));

    ScriptedBuffer dev(AnswerWith(AckFrame(true, 0xF4, 0x05)));
    hooks.stream = [&] { return &dev.buffer; };
    calls.clear();
    f.commands.usbIntoBootTwo(hooks);
    EXPECT_EQ(calls, (std::vector<std::string>{"connect", "disconnect"}));
    ASSERT_EQ(dev.Sent().size(), 1u);
    EXPECT_EQ(dev.Sent()[0].size(), 78u);

    hooks.connect = [&] {
        calls.push_back("connect failed");
        return false;
    };
    calls.clear();
    EXPECT_FALSE(f.commands.usbIntoBootOne(hooks));
    f.commands.usbIntoBootTwo(hooks);
    EXPECT_EQ(calls, (std::vector<std::string>{"connect failed", "connect failed"}));
}

// ---------------------------------------------------------------------------------------------
// Reading whole streams

// Hands out at most `piece` bytes per read and records every request.
class PieceStream : public platform::ByteStream {
public:
    PieceStream(std::size_t size, int32_t piece) : size_(size), piece_(piece) {}
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count) override {
        requests.emplace_back(offset, count);
        const auto n = static_cast<int32_t>(
            std::min<std::size_t>({std::size_t(count), std::size_t(piece_), size_ - pos_}));
        for (int32_t i = 0; i < n; ++i) buffer[offset + i] = static_cast<uint8_t>((pos_ + i) * 7);
        pos_ += static_cast<std::size_t>(n);
        return n;
    }
    std::vector<std::pair<int32_t, int32_t>> requests;

private:
    std::size_t size_;
    std::size_t pos_ = 0;
    int32_t piece_;
};

TEST(StreamReading, SkippedHeaderOfAShortSourceGivesZero) {
    Fields f;
    f.kroType = 1;
    platform::MemoryStream source(Bytes(10, 0x33));
    Bytes target(16 + 1024);
    EXPECT_EQ(f.commands.ReadBytesFromStream(source, target, true), 0);
}

TEST(StreamReading, HeaderIsSkippedExceptForCompressedCourseFiles) {
    Bytes content(40);
    std::iota(content.begin(), content.end(), 0);
    Fields f;
    f.kroType = 1;
    platform::MemoryStream packed(content);
    Bytes target(40 + 1024);
    ASSERT_EQ(f.commands.ReadBytesFromStream(packed, target, true), 24);
    EXPECT_TRUE(std::equal(content.begin() + 16, content.end(), target.begin()));

    f.kroType = 2;
    platform::MemoryStream compressed(content);
    ASSERT_EQ(f.commands.ReadBytesFromStream(compressed, target, true), 40);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), target.begin()));
}

TEST(StreamReading, StopsAtOneMebibyte) {
    Fields f;
    PieceStream source(2 * 1024 * 1024, 1024);
    Bytes target(kStreamChunkLimit + kStreamPieceSize);
    EXPECT_EQ(f.commands.ReadBytesFromStream(source, target, false), 1048576);
    EXPECT_EQ(source.requests.size(), 1024u);
    EXPECT_EQ(target[1048575], static_cast<uint8_t>(1048575 * 7));
    // The next call goes on where this one stopped.
    EXPECT_EQ(f.commands.ReadBytesFromStream(source, target, false), 1048576);
    EXPECT_EQ(target[0], static_cast<uint8_t>(1048576 * 7));
}

TEST(StreamReading, OddPiecesMayPassTheLimitButNeverTheTarget) {
    Fields f;
    PieceStream source(3 * 1024 * 1024, 1000);
    Bytes target(kStreamChunkLimit + kStreamPieceSize);
    EXPECT_EQ(f.commands.ReadBytesFromStream(source, target, false), 1049000);

    PieceStream small(10000, 1024);
    Bytes tight(3000);
    EXPECT_EQ(f.commands.ReadBytesFromStream(small, tight, false), 3000);
    for (auto [offset, count] : small.requests) EXPECT_LE(offset + count, 3000);
}

TEST(StreamReading, ReadAllNeedsRoomForTheFinalRequest) {
    PieceStream source(250, 100);
    Bytes target(350);
    EXPECT_EQ(ReadAllBytesFromStream(source, target), 250);
    EXPECT_EQ(source.requests.back(), std::make_pair(250, 100));
    EXPECT_EQ(target[249], static_cast<uint8_t>(249 * 7));

    PieceStream tooBig(250, 100);
    Bytes tight(349);
    EXPECT_THROW(ReadAllBytesFromStream(tooBig, tight), platform::StreamError);
    for (auto [offset, count] : tooBig.requests) EXPECT_LE(offset + count, 349);
}

// ---------------------------------------------------------------------------------------------
// Through the real stack: pty, device stream, receive buffer and reader thread, against the
// virtual navigator.

sim::SimConfig SimIn(sim::DeviceMode mode) {
    sim::SimConfig config;
    config.device.mode = mode;
    return config;
}

TEST(OverTheLink, BootLoaderAnswersTheModeQuery) {
    testsupport::SimLink link(SimIn(sim::DeviceMode::Boot));
    Fields f;
    EXPECT_TRUE(f.commands.CheckUsbVersion(link.Buffer()));
    ASSERT_TRUE(link.Server().WaitForFrames(1, 1000));
    EXPECT_EQ(link.Server().Journal().at(0).Code(), 0x0A04);
}

TEST(OverTheLink, RepliesWrittenInSmallPiecesWithNoiseAreRecognised) {
    sim::SimConfig config = SimIn(sim::DeviceMode::Patch);
    config.device.faults.splitBytes = 5;
    config.device.faults.splitGapMs = 3;
    config.device.faults.noiseBytes = 40;
    testsupport::SimLink link(config);
    Fields f;
    EXPECT_TRUE(f.commands.CheckPatchVersion(link.Buffer()));
    EXPECT_TRUE(f.patchStatus);
    EXPECT_TRUE(f.commands.CheckSpinorId(link.Buffer()));
    EXPECT_TRUE(f.commands.bootMemoryRead(link.Buffer()));
}

TEST(OverTheLink, NormalFirmwareIsNotTakenForTheBootStageAndSaysSoAtOnce) {
    testsupport::SimLink link(SimIn(sim::DeviceMode::Normal));
    Fields f;
    const auto boot =
        DecidedWithoutTimePassing([&] { return f.commands.CheckUsbVersion(link.Buffer()); });
    ASSERT_TRUE(boot.has_value());
    EXPECT_FALSE(*boot);
}

TEST(OverTheLink, BootMemoryRoundTrip) {
    sim::SimConfig config = SimIn(sim::DeviceMode::Boot);
    std::array<uint8_t, 64> stored{};
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<uint8_t>(i * 3 + 1);
    testsupport::SimLink link(config);
    link.Server().WithModel([&](sim::DeviceModel& m) { m.SetBootMemory(stored); });
    Fields f;
    ASSERT_TRUE(f.commands.bootMemoryRead(link.Buffer()));
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), std::begin(f.bootMemory)));

    for (auto& b : f.bootMemory) b = static_cast<uint8_t>(~b);
    ASSERT_TRUE(f.commands.bootMemoryWrite(link.Buffer()));
    const auto written =
        link.Server().WithModel([](sim::DeviceModel& m) { return m.BootMemory(); });
    EXPECT_TRUE(std::equal(written.begin(), written.end(), std::begin(f.bootMemory)));
}

TEST(OverTheLink, FirmwareUpdateModeThenReset) {
    testsupport::SimLink link(SimIn(sim::DeviceMode::Normal));
    Fields f;
    EXPECT_TRUE(f.commands.FwUpCmd(link.Buffer()));
    EXPECT_TRUE(link.Server().YmodemRequested());
    f.commands.SendResetCmd(link.Buffer());
    ASSERT_TRUE(link.Server().WaitForFrames(2, 2000));
    EXPECT_EQ(link.Server().ResetCount(), 1u);
}

TEST(OverTheLink, RefusedAndLateAcknowledgements) {
    sim::SimConfig config = SimIn(sim::DeviceMode::Boot);
    config.device.faults.nakFrames = {1};
    config.device.faults.ackDelayMs = 300;
    testsupport::SimLink link(config);
    const Bytes frame = MakeFwpgFrame(0x26000, 0, Bytes(16, 0xAB));
    auto send = [&] {
        link.Buffer()->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
    };
    send();
    EXPECT_EQ(WaitForAck(link.Buffer(), DeadlineIn(3000), BOOT2_FWPG), kAckRefused);
    send();
    EXPECT_EQ(WaitForAck(link.Buffer(), DeadlineIn(1000), BOOT2_FWPG), kAckAccepted);
    send();
    // 300 ms late for a wait of 100 + 50 ms.
    EXPECT_EQ(WaitForAck(link.Buffer(), DeadlineIn(100), BOOT2_FWPG), kAckTimeout);
}

}  // namespace
