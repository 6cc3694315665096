// The sender's serial-port variant (I/O errors retried or fatal, its EOT phase) against a
// scripted receiver, and the serial port itself over a pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "support/pty_pair.h"
#include "support/scripted_buffer.h"
#include "transfer/ymodem.h"
#include "ymodem_test_support.h"

using namespace ymodem_test;
using transport::SerialPortException;
using transfer::Ymodem;

namespace {

class SerialSenderFixture : public ::testing::Test {
protected:
    bool SendBytes(const Bytes& payload, const std::string& name = "fw.bin") {
        platform::MemoryStream source(payload);
        return modem.sendStream(source, static_cast<int64_t>(payload.size()), name, port);
    }

    FakeReceiver rx;
    FakeSerialPort port{rx};
    Ymodem modem;
};

}  // namespace

TEST_F(SerialSenderFixture, StandardReceiverGetsTheFile) {
    const Bytes payload = RandomBytes(5000, 21);
    EXPECT_TRUE(SendBytes(payload, "s.bin"));
    EXPECT_EQ(rx.Name(), "s.bin");
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(rx.Log().back().kind, Kind::EndOfBatch);
    EXPECT_TRUE(modem.finished);
    EXPECT_EQ(modem.bytesLeft, 0);
}

TEST_F(SerialSenderFixture, HeaderSendingIsRetriedAfterIoErrors) {
    port.failWrites = 2;
    EXPECT_TRUE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(port.failures, 2);
    EXPECT_EQ(rx.Count(Kind::Header), 1u);
}

TEST_F(SerialSenderFixture, HeaderThatNeverGoesOutFailsWithoutCancel) {
    port.failWrites = 1000;
    EXPECT_FALSE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(port.writes, transfer::kYmodemSerialIoAttempts + 0) << "no cancel writes either";
    EXPECT_TRUE(rx.Log().empty());
    EXPECT_TRUE(modem.finished);
}

TEST_F(SerialSenderFixture, FirstSendingOfADataBlockIsNotRetried) {
    rx.onHeader = [this](int) {
        port.failWrites = 1;
        return Bytes{kAck, kC};
    };
    EXPECT_FALSE(SendBytes(RandomBytes(3000, 1)));
    EXPECT_EQ(port.failures, 1);
    EXPECT_EQ(rx.Kinds(), std::vector<Kind>{Kind::Header}) << "no cancel sequence follows";
}

TEST_F(SerialSenderFixture, ResendAfterNakIsRetried) {
    rx.onData = [this](int i, uint8_t) {
        if (i == 0) port.failWrites = 2;
        return Bytes{i == 0 ? kNak : kAck};
    };
    EXPECT_TRUE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(port.failures, 2);
    EXPECT_EQ(rx.Count(Kind::Data), 2u);
}

TEST_F(SerialSenderFixture, ReplyReadsAreRetried) {
    rx.onData = [this](int, uint8_t) {
        port.failReads = 2;
        return Bytes{kAck};
    };
    const Bytes payload = RandomBytes(3000, 3);
    EXPECT_TRUE(SendBytes(payload));
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(port.failures, 6);
}

TEST_F(SerialSenderFixture, WaitForCGoesOnAfterAnIoError) {
    rx.onHeader = [](int) { return Bytes{kAck, 'x', kC}; };
    // Read 1 takes the ACK, read 2 the stray byte; reads 3 and 4 fail inside the wait for 'C'.
    port.failReadNumbers = {3, 4};
    const Bytes payload = RandomBytes(1500, 3);
    EXPECT_TRUE(SendBytes(payload));
    EXPECT_EQ(port.failures, 2);
    EXPECT_EQ(rx.File(), payload);
    EXPECT_EQ(modem.errorCount, 1);
}

TEST_F(SerialSenderFixture, PortThatAlwaysFailsEndsQuickly) {
    port.failAlways = true;
    bool ok = true;
    const int64_t ms = testsupport::ElapsedMs([&] { ok = SendBytes(RandomBytes(3000, 1)); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 2000);
    EXPECT_LE(port.failures, 2 * transfer::kYmodemSerialIoAttempts);
}

TEST_F(SerialSenderFixture, EotPhaseWithoutAckCancelsAndFails) {
    rx.onEot = [](int) { return Bytes{kNak}; };
    EXPECT_FALSE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(rx.Count(Kind::Eot), size_t(transfer::kYmodemReplyBudget));
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 0u);
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

TEST_F(SerialSenderFixture, ReadTimeOutCancels) {
    rx.onData = [](int, uint8_t) { return Bytes{}; };
    EXPECT_FALSE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(TrailingCans(rx.Log()), 5u);
}

TEST_F(SerialSenderFixture, CancelSequenceStopsAtAnIoError) {
    rx.onData = [this](int, uint8_t) {
        port.failWrites = 1000;
        return Bytes{kCan};
    };
    EXPECT_FALSE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(port.failures, 1) << "one failed CAN write ends the sequence";
}

TEST_F(SerialSenderFixture, BatchEndIsSentAgainOnC) {
    rx.onEndOfBatch = [](int i) { return Bytes{i == 0 ? kC : kAck}; };
    EXPECT_TRUE(SendBytes(RandomBytes(100, 1)));
    EXPECT_EQ(rx.Count(Kind::EndOfBatch), 2u);
}

TEST_F(SerialSenderFixture, DigestMismatchSendsOnlyTheCancelSequence) {
    TempDir dir;
    WriteFile(dir / "bad.ckfm", PackedFile(RandomBytes(3000, 14), 3, true));
    platform::FileStream file(dir / "bad.ckfm");
    file.Seek(kPackedGzipOffset);
    EXPECT_FALSE(modem.sendPackets(file, port, true));
    EXPECT_EQ(rx.Kinds(), std::vector<Kind>(5, Kind::Can));
    EXPECT_TRUE(modem.finished);
}

// --- The serial port over a pseudo-terminal -----------------------------------------------

TEST(SerialPort, ReadsWritesAndTimesOut) {
    PtyPair pty;
    transport::SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 115200));
    port.ReadTimeout(300);

    ASSERT_TRUE(pty.Send(Bytes{0x43, 0x06}));
    EXPECT_EQ(port.ReadByte(), 0x43);
    EXPECT_EQ(port.ReadByte(), 0x06);

    const Bytes block = RandomBytes(1029, 5);
    port.Write(block.data(), 0, static_cast<int32_t>(block.size()));
    EXPECT_EQ(pty.Receive(block.size(), 2000), block);

    const int64_t ms =
        testsupport::ElapsedMs([&] { EXPECT_THROW(port.ReadByte(), TimeoutException); });
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 3000);
}

TEST(SerialPort, DiscardDropsWhatArrived) {
    PtyPair pty;
    transport::SerialPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 115200));
    port.ReadTimeout(200);
    ASSERT_TRUE(pty.Send(Bytes{1, 2, 3}));
    EXPECT_EQ(port.ReadByte(), 1);  // the rest sits in the port's local buffer
    ASSERT_TRUE(pty.Send(Bytes{4, 5}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.DiscardInBuffer();
    EXPECT_THROW(port.ReadByte(), TimeoutException);
    ASSERT_TRUE(pty.Send(Bytes{9}));
    EXPECT_EQ(port.ReadByte(), 9);
}

TEST(SerialPort, FailuresAreIoErrors) {
    transport::SerialPort port;
    EXPECT_FALSE(port.Open("/nonexistent/ttyNONE", 115200));
    const uint8_t b = 0;
    EXPECT_THROW(port.Write(&b, 0, 1), SerialPortException);
    EXPECT_THROW(port.ReadByte(), SerialPortException);
    EXPECT_THROW(port.ReadTimeout(0), std::invalid_argument);

    PtyPair pty;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 115200));
    port.ReadTimeout(2000);
    pty.CloseMaster();
    const int64_t ms =
        testsupport::ElapsedMs([&] { EXPECT_THROW(port.ReadByte(), SerialPortException); });
    EXPECT_LT(ms, 1000) << "a hung-up port fails at once instead of waiting";
}
