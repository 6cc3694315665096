#include "protocol/patch_upload.h"

#include <gtest/gtest.h>

#include <mutex>
#include <numeric>

#include "protocol/device_commands.h"
#include "support/fake_clock.h"
#include "support/scripted_buffer.h"
#include "support/sim_link.h"

namespace {

using testsupport::AckFrame;
using testsupport::Bytes;
using testsupport::ElapsedMs;
using testsupport::ScriptedBuffer;

const Bytes kRunFrame{0xF1, 0xD9, 0xF4, 0x06, 0x04, 0x00, 0x2D, 0x62, 0x02, 0x00, 0x8F, 0xC0};

// What a sent BOOT2_FWPG frame says.
struct ProgramFrame {
    uint32_t address = 0;
    uint16_t index = 0;
    Bytes data;
};

ProgramFrame DecodeProgramFrame(const Bytes& frame) {
    FUR_DATA parsed{PARSE_NO_FRAME, FUR_CMD_NAME{}, 0, 0};
    EXPECT_EQ(parsefur(frame.data(), static_cast<uint32_t>(frame.size()), &parsed), frame.size());
    EXPECT_EQ(parsed.status, PARSE_OK);
    EXPECT_EQ(parsed.command, BOOT2_FWPG);
    const auto payload = FurPayload(frame, parsed);
    ProgramFrame out;
    FUR_PACKET_BOOT2_FWPG head{};
    EXPECT_TRUE(ReadRecord(payload, &head));
    out.address = head.address;
    out.index = head.index;
    out.data.assign(payload.begin() + sizeof head, payload.end());
    return out;
}

bool IsRunFrame(const Bytes& frame) {
    return frame.size() > 3 && frame[2] == 0xF4 && frame[3] == 0x06;
}

// A device that acknowledges program frames (refusing frame `nakAt`, counted from 0) and,
// when `ackRun`, the run frame. Anything else gets no answer.
ScriptedBuffer::Responder Device(int nakAt = -1, bool ackRun = true) {
    auto count = std::make_shared<int>(0);
    return [=](ScriptedBuffer& dev, const Bytes& sent) {
        if (IsRunFrame(sent)) {
            if (ackRun) dev.Feed(AckFrame(true, 0xF4, 0x06));
            return;
        }
        const bool refuse = (*count)++ == nakAt;
        dev.Feed(AckFrame(!refuse, 0xF4, 0x05));
    };
}

struct Upload {
    int32_t TotalPacketNum = -1;
    int32_t progressMax = -1;
    std::mutex mut;
    std::vector<int32_t> progress;

    PatchUploadContext Context(FIFOStream* port, std::span<const uint8_t> image = PatchImageBytes(),
                               std::string entry = "2622d") {
        return PatchUploadContext{port,
                                  std::move(entry),
                                  TotalPacketNum,
                                  progressMax,
                                  [this](int32_t i) {
                                      std::lock_guard<std::mutex> lock(mut);
                                      progress.push_back(i);
                                  },
                                  image};
    }
};

TEST(PatchImage, EmbeddedImageHasTheProgramLength) {
    EXPECT_EQ(PatchImage_size, kPatchImageLength);
    EXPECT_EQ(PatchImageBytes().size(), 14604u);
}

TEST(PatchUpload, StaleAcknowledgementDoesNotCountForTheFirstPacket) {
    // An acknowledgement left from earlier traffic waits in the buffer; the device refuses
    // packet 0. Only emptying the buffer before sending keeps the stale one from counting.
    ScriptedBuffer dev(Device(/*nakAt=*/0));
    dev.Feed(AckFrame(true, 0xF4, 0x05));
    Upload up;
    EXPECT_EQ(sendPatchFile(up.Context(&dev.buffer)), kPatchFailed);
    EXPECT_EQ(dev.Sent().size(), 1u);
    EXPECT_TRUE(up.progress.empty());
}

TEST(PatchUpload, BufferIsEmptiedBeforeEverySend) {
    ScriptedBuffer dev(Device());
    int discards = 0;
    // DiscardInBuffer raises LowBuffer before it empties the ring; a polled source would move
    // its pending bytes in here, and they must be dropped as well.
    dev.buffer.LowBuffer.Subscribe([&](FIFOStream* b) {
        if (b->Count() == 0) {
            const Bytes stale = AckFrame(false, 0xF4, 0x05);
            b->Write(stale.data(), 0, static_cast<int32_t>(stale.size()));
            ++discards;
        }
    });
    Upload up;
    EXPECT_EQ(sendPatchFile(up.Context(&dev.buffer)), kPatchStarted);
    EXPECT_GE(discards, 16);
}

TEST(PatchUpload, OddImageGetsOnePaddingByte) {
    Bytes image(2051);
    std::iota(image.begin(), image.end(), 1);
    ScriptedBuffer dev(Device());
    Upload up;
    ASSERT_EQ(sendPatchFile(up.Context(&dev.buffer, image)), kPatchStarted);
    EXPECT_EQ(up.TotalPacketNum, 3);
    const auto sent = dev.Sent();
    ASSERT_EQ(sent.size(), 4u);
    const ProgramFrame last = DecodeProgramFrame(sent[2]);
    EXPECT_EQ(last.address, 0x26800u);
    EXPECT_EQ(last.data, (Bytes{image[2048], image[2049], image[2050], 0x00}));
    EXPECT_EQ(last.index, 2);
    EXPECT_EQ(sent[3], kRunFrame);
    EXPECT_EQ(up.progress, (std::vector<int32_t>{0, 1, 2}));
}

TEST(PatchUpload, WholeKibibytesNeedNoPadding) {
    Bytes image(2048, 0x5A);
    ScriptedBuffer dev(Device());
    Upload up;
    ASSERT_EQ(sendPatchFile(up.Context(&dev.buffer, image)), kPatchStarted);
    const auto sent = dev.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(DecodeProgramFrame(sent[1]).data.size(), 1024u);
    EXPECT_EQ(up.TotalPacketNum, 2);

    const Bytes one{0x7E};
    ScriptedBuffer dev1(Device());
    ASSERT_EQ(sendPatchFile(up.Context(&dev1.buffer, one)), kPatchStarted);
    EXPECT_EQ(DecodeProgramFrame(dev1.Sent().at(0)).data, (Bytes{0x7E, 0x00}));
}

TEST(PatchUpload, EntryAddressComesFromTheSettingText) {
    ScriptedBuffer dev(Device());
    Upload up;
    const Bytes image(4, 0x01);
    ASSERT_EQ(sendPatchFile(up.Context(&dev.buffer, image, "0x30000")), kPatchStarted);
    const Bytes run = dev.Sent().back();
    ASSERT_EQ(run.size(), 12u);
    EXPECT_EQ(Bytes(run.begin() + 6, run.begin() + 10), (Bytes{0x00, 0x00, 0x03, 0x00}));

    EXPECT_EQ(ParsePatchEntryAddress("2622d"), 0x2622Du);
    EXPECT_EQ(ParsePatchEntryAddress(" 2622D "), 0x2622Du);
    EXPECT_EQ(ParsePatchEntryAddress("FFFFFFFF"), 0xFFFFFFFFu);
    for (const char* bad : {"", "0x", "2622g", "123456789", "-1", "26 2d"}) {
        EXPECT_FALSE(ParsePatchEntryAddress(bad).has_value()) << bad;
    }
}

TEST(PatchUpload, UnusableSettingsSendNothing) {
    ScriptedBuffer dev(Device());
    Upload up;
    EXPECT_EQ(sendPatchFile(up.Context(&dev.buffer, PatchImageBytes(), "2622x")), kPatchFailed);
    EXPECT_EQ(sendPatchFile(up.Context(&dev.buffer, {})), kPatchFailed);  // no image found
    EXPECT_TRUE(dev.Sent().empty());
    EXPECT_EQ(sendPatchFile(up.Context(nullptr)), kPatchFailed);
    EXPECT_TRUE(up.progress.empty());
}

// ---------------------------------------------------------------------------------------------
// Against the virtual navigator in its boot stage, through the real stack.

sim::SimConfig BootLoader() {
    sim::SimConfig config;
    config.device.mode = sim::DeviceMode::Boot;
    // The device starts the program only if exactly these bytes arrived.
    const auto image = PatchImageBytes();
    config.device.requiredPatchImage.assign(image.begin(), image.end());
    return config;
}

std::vector<sim::JournalEntry> JournalOf(testsupport::SimLink& link, uint32_t frames) {
    EXPECT_TRUE(link.Server().WaitForFrames(frames, 2000));
    return link.Server().Journal();
}

TEST(PatchUploadOverTheLink, DeviceRunsTheLoadedProgram) {
    testsupport::SimLink link(BootLoader());
    Upload up;
    ASSERT_EQ(sendPatchFile(up.Context(link.Buffer())), kPatchStarted);
    EXPECT_EQ(up.TotalPacketNum, 15);
    EXPECT_EQ(up.progressMax, 15);
    std::vector<int32_t> expected(15);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(up.progress, expected);
    const auto journal = JournalOf(link, 16);
    ASSERT_EQ(journal.size(), 16u);
    for (uint32_t i = 0; i < 15; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(journal[i].Code(), 0xF405);
        EXPECT_EQ(journal[i].payloadLength, i < 14 ? 1030u : 274u);
        FUR_PACKET_BOOT2_FWPG head{};
        ASSERT_TRUE(ReadRecord(std::span<const uint8_t>(journal[i].payload), &head));
        EXPECT_EQ(head.address, 0x26000u + 0x400u * i);
        EXPECT_EQ(head.index, i);
    }
    EXPECT_EQ(journal[15].Code(), 0xF406);
    EXPECT_EQ(journal[15].payload, (Bytes{0x2D, 0x62, 0x02, 0x00}));
    EXPECT_EQ(link.Server().Mode(), sim::DeviceMode::Patch);

    // The program now answers the version query.
    bool patchStatus = false;
    uint8_t bootMemory[kBootMemoryLength] = {};
    const int32_t kroType = 0;
    DeviceCommands commands(patchStatus, bootMemory, kroType);
    EXPECT_TRUE(commands.CheckPatchVersion(link.Buffer()));
    EXPECT_TRUE(patchStatus);
}

TEST(PatchUploadOverTheLink, RefusalOfPacketThreeEndsTheUpload) {
    sim::SimConfig config = BootLoader();
    config.device.faults.nakFrames = {4};  // the device counts frames from 1
    testsupport::SimLink link(config);
    Upload up;
    EXPECT_EQ(sendPatchFile(up.Context(link.Buffer())), kPatchFailed);
    EXPECT_EQ(up.progress, (std::vector<int32_t>{0, 1, 2}));
    const auto journal = JournalOf(link, 4);
    ASSERT_EQ(journal.size(), 4u);
    for (const auto& e : journal) EXPECT_EQ(e.Code(), 0xF405);
    EXPECT_EQ(link.Server().Mode(), sim::DeviceMode::Boot);
}

TEST(PatchUploadOverTheLink, UnacknowledgedRunFailsAfterItsSecond) {
    sim::SimConfig config = BootLoader();
    config.device.faults.silentAfter = 15;
    testsupport::SimLink link(config);
    Upload up;
    int32_t result = 0;
    const auto ms = ElapsedMs([&] { result = sendPatchFile(up.Context(link.Buffer())); });
    EXPECT_EQ(result, kPatchFailed);
    EXPECT_EQ(up.progress.size(), 15u);
    EXPECT_EQ(JournalOf(link, 16).size(), 16u);
    EXPECT_GE(ms, 1040);
    EXPECT_LT(ms, 5000);
}

TEST(PatchUploadOverTheLink, SilentDeviceFailsAfterTheFirstPacket) {
    testsupport::ScopedFastClock fast;
    sim::SimConfig config = BootLoader();
    config.device.faults.silentAfter = 0;
    testsupport::SimLink link(config);
    Upload up;
    int32_t result = 0;
    const auto ms = testsupport::ElapsedTicks(
        fast.Clock(), [&] { result = sendPatchFile(up.Context(link.Buffer())); });
    EXPECT_EQ(result, kPatchFailed);
    EXPECT_GE(ms, 3040);
    EXPECT_LT(ms, 6000);
    EXPECT_EQ(JournalOf(link, 1).size(), 1u);
    EXPECT_TRUE(up.progress.empty());
}

}  // namespace
