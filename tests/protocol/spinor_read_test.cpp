// The point import's request frame and its wait for the answer on a scripted receive buffer.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/tick.h"
#include "protocol/spinor_read.h"
#include "support/scripted_buffer.h"

namespace {

using testsupport::AckFrame;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Corrupted;
using testsupport::ElapsedMs;
using testsupport::ScriptedBuffer;

Bytes DataReply(size_t n, uint8_t first = 0x10) {
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(first + i);
    return MakeFrame(BOOT2_SPINORRD_DATA, payload);
}

Bytes PayloadOf(size_t n, uint8_t first = 0x10) {
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(first + i);
    return payload;
}

// CPU time this thread used, in milliseconds.
int64_t ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

uint32_t In(uint32_t ms) {
    return platform::TickCount() + ms;
}

TEST(SpinorRequest, IsA14ByteFrameWithAddressAndLength) {
    const Bytes frame = MakeSpinorReadFrame(0x000300C0, 192);
    ASSERT_EQ(frame.size(), 14u);
    const Bytes head = {0xF1, 0xD9, 0xF4, 0x31, 0x06, 0x00, 0xC0, 0x00, 0x03, 0x00, 0xC0, 0x00};
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 12), head);
    FUR_DATA parsed{PARSE_NO_FRAME, {}, 0, 0};
    EXPECT_EQ(parsefur(frame.data(), 14, &parsed), 14u);
    EXPECT_EQ(parsed.status, PARSE_OK);
    EXPECT_EQ(MakeSpinorReadFrame(0, 8)[10], 8);
}

TEST(SpinorWait, TakesTheAnswerBehindNoiseAndOtherFrames) {
    ScriptedBuffer s;
    const Bytes noise = {0x00, 0x13, 0xF1, 0x77, 0x42};
    s.Feed(Concat(
        {noise, AckFrame(true, 0xF4, 0x05), Corrupted(DataReply(192, 0x99)), DataReply(192)}));
    const auto payload = WaitForSpinorData(s.buffer, In(1000));
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, PayloadOf(192));
}

TEST(SpinorWait, AnAnswerSplitOverManyReadsIsKept) {
    ScriptedBuffer s;
    const Bytes reply = DataReply(192);
    // One feeder, so the pieces arrive in order however the threads are scheduled.
    std::thread feeder([&] {
        for (size_t at = 0; at < reply.size(); at += 7) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            s.Feed(Bytes(reply.begin() + at, reply.begin() + std::min(at + 7, reply.size())));
        }
    });
    const auto payload = WaitForSpinorData(s.buffer, In(5000));
    feeder.join();
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, PayloadOf(192));
}

TEST(SpinorWait, ShortAnswersAreReturnedAsTheyCame) {
    ScriptedBuffer s;
    s.Feed(DataReply(8));
    const auto payload = WaitForSpinorData(s.buffer, In(1000));
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->size(), 8u);
}

TEST(SpinorWait, WakesAsSoonAsTheAnswerArrives) {
    ScriptedBuffer s;
    s.FeedLater(DataReply(192), 100);
    std::optional<Bytes> payload;
    const auto ms = ElapsedMs([&] { payload = WaitForSpinorData(s.buffer, In(5000)); });
    ASSERT_TRUE(payload);
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 1500);
}

TEST(SpinorWait, GivesUpAtTheDeadlineWithoutSpinning) {
    ScriptedBuffer s;
    s.FeedLater(Corrupted(DataReply(192)), 50);
    s.FeedLater(AckFrame(true, 0xF4, 0x05), 100);
    const int64_t cpuBefore = ThreadCpuMs();
    std::optional<Bytes> payload;
    const auto ms = ElapsedMs([&] { payload = WaitForSpinorData(s.buffer, In(400)); });
    EXPECT_FALSE(payload);
    EXPECT_GE(ms, 390);
    EXPECT_LT(ms, 2000);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 100);
}

TEST(SpinorWait, AnEndedStreamDoesNotTurnTheWaitIntoABusyLoop) {
    ScriptedBuffer s;
    s.buffer.EndWrite();
    const int64_t cpuBefore = ThreadCpuMs();
    std::optional<Bytes> payload;
    const auto ms = ElapsedMs([&] { payload = WaitForSpinorData(s.buffer, In(300)); });
    EXPECT_FALSE(payload);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 100);
}

TEST(SpinorWait, AStuckFrameHeaderDoesNotHideTheAnswer) {
    ScriptedBuffer s;
    // A frame header announcing 9,000 bytes that never come, then more noise, then the reply:
    // the incomplete frame is eventually dropped.
    Bytes stuck = {0xF1, 0xD9, 0xF4, 0x31, 0x28, 0x23};
    s.Feed(stuck);
    for (int i = 0; i < 10; ++i) s.Feed(Bytes(2000, 0x55));
    s.Feed(DataReply(192));
    const auto payload = WaitForSpinorData(s.buffer, In(2000));
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, PayloadOf(192));
}

}  // namespace
