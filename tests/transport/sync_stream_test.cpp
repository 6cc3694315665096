#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/tick.h"
#include "support/pty_pair.h"
#include "support/scoped_device_dir.h"
#include "transport/sync_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Reads `want` bytes from a receive buffer, waiting at most `timeoutMs` in all.
Bytes Drain(FIFOStream& buffer, size_t want, int timeoutMs = 5000) {
    Bytes got;
    uint8_t chunk[4096];
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want && Clock::now() < deadline) {
        int32_t n =
            buffer.Read(chunk, 0, static_cast<int32_t>(std::min(sizeof chunk, want - got.size())));
        got.insert(got.end(), chunk, chunk + n);
        if (n == 0) buffer.WaitForData(20);
    }
    return got;
}

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The connection's reader thread: fills the buffers while the stream is open, sleeping only
// when a fill delivered nothing.
class ReaderThread {
public:
    ReaderThread(SyncStream& stream, std::shared_ptr<FIFOStream> buffer) {
        done_ = finished_.get_future();
        thread_ = std::thread([&stream, buffer, this] {
            while (!stop_ && stream.IsOpen()) {
                buffer->usbRead();
                if (stream.LastUsbFill() != UsbFillStatus::Delivered) platform::SleepMs(10);
            }
            finished_.set_value();
        });
    }
    ~ReaderThread() {
        stop_ = true;
        thread_.join();
    }
    bool Finished(int withinMs) {
        return done_.wait_for(std::chrono::milliseconds(withinMs)) == std::future_status::ready;
    }

private:
    std::atomic<bool> stop_{false};
    std::promise<void> finished_;
    std::future<void> done_;
    std::thread thread_;
};

class SyncStreamUsb : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.Link("nav0", pty.SlavePath());
        stream = std::make_unique<SyncStream>(path);
    }
    void TearDown() override {
        if (stream) stream->Close();
        reader.reset();
    }
    void StartReader(std::shared_ptr<FIFOStream> buffer) {
        reader = std::make_unique<ReaderThread>(*stream, std::move(buffer));
    }
    // Waits until the buffer's count stops changing.
    int32_t SettledCount(FIFOStream& buffer) {
        int32_t last = -1;
        for (int i = 0; i < 100 && buffer.Count() != last; ++i) {
            last = buffer.Count();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return last;
    }

    ScopedDeviceDir dir;
    PtyPair pty;
    std::string path;
    std::unique_ptr<SyncStream> stream;
    std::unique_ptr<ReaderThread> reader;
};

TEST_F(SyncStreamUsb, TwoBuffersReceiveEveryChunkInFullAndInOrder) {
    ASSERT_TRUE(stream->Open());
    auto a = stream->GetReadBuffer();
    auto b = stream->GetReadBuffer();
    StartReader(a);
    const Bytes data = RandomBytes(300000, 1);
    auto gotA = std::async(std::launch::async, [&] { return Drain(*a, data.size(), 20000); });
    auto gotB = std::async(std::launch::async, [&] { return Drain(*b, data.size(), 20000); });
    std::mt19937 rng(2);
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(1 + rng() % 5000, data.size() - at);
        ASSERT_TRUE(pty.Send(data.data() + at, n));
        at += n;
    }
    EXPECT_EQ(gotA.get(), data);
    EXPECT_EQ(gotB.get(), data);
}

TEST_F(SyncStreamUsb, AFullBufferPausesReadingForAllUntilEveryBufferHasRoom) {
    ASSERT_TRUE(stream->Open());
    auto a = stream->GetReadBuffer();
    auto b = stream->GetReadBuffer();
    StartReader(a);
    const Bytes data = RandomBytes(70000, 3);
    auto device = std::async(std::launch::async, [&] {
        for (size_t at = 0; at < data.size(); at += 1000) {
            if (!pty.Send(data.data() + at, std::min<size_t>(1000, data.size() - at)) &&
                !pty.Send(data.data() + at, std::min<size_t>(1000, data.size() - at))) {
                return false;
            }
        }
        return true;
    });

    const int32_t paused = SettledCount(*a);
    EXPECT_GT(paused, SyncStream::BufferSize - SyncStream::kUsbChunk);
    EXPECT_LE(paused, SyncStream::BufferSize);
    EXPECT_EQ(b->Count(), paused);
    EXPECT_TRUE(stream->LastFillRefused());

    // Room in one buffer is not enough: the other still holds too much.
    Bytes first = Drain(*a, 4096);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(a->Count(), paused - 4096);
    EXPECT_EQ(b->Count(), paused);

    auto restA = std::async(std::launch::async, [&] { return Drain(*a, data.size() - 4096); });
    Bytes allB = Drain(*b, data.size());
    const Bytes restOfA = restA.get();
    first.insert(first.end(), restOfA.begin(), restOfA.end());
    EXPECT_TRUE(device.get());
    EXPECT_EQ(first, data);
    EXPECT_EQ(allB, data);
}

TEST_F(SyncStreamUsb, ABufferThatCannotStoreAChunkIsMarkedFailedAndTheOthersGetIt) {
    ASSERT_TRUE(stream->Open());
    auto a = stream->GetReadBuffer();
    auto b = stream->GetReadBuffer();
    a->SetLength(16);  // shrunk behind the stream's back: its flow control cannot see it
    StartReader(b);
    const Bytes data = RandomBytes(100, 5);
    ASSERT_TRUE(pty.Send(data));
    EXPECT_EQ(Drain(*b, data.size()), data);
    EXPECT_FALSE(a->IsOpen());
    EXPECT_TRUE(b->IsOpen());
}

TEST_F(SyncStreamUsb, WritesReachTheDeviceOnlyThroughAnOpenLink) {
    auto buffer = stream->GetReadBuffer();
    const Bytes frame = RandomBytes(10000, 4);
    buffer->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));  // not open: dropped
    stream->Write("dropped");
    EXPECT_TRUE(pty.ReceiveAll(50).empty());

    ASSERT_TRUE(stream->Open());
    auto device = std::async(std::launch::async, [&] { return pty.Receive(frame.size(), 3000); });
    buffer->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(device.get(), frame);
    stream->Write("VER\r\xC3\xA9");
    const Bytes text = pty.Receive(6, 1000);
    EXPECT_EQ(std::string(text.begin(), text.end()), "VER\r\xC3\xA9");

    stream->Close();
    buffer->SendCmd(frame.data(), 0, 16);
    EXPECT_TRUE(pty.ReceiveAll(50).empty());
}

TEST_F(SyncStreamUsb, CloseEndsTheReaderAndBuffersDrainToEndOfStream) {
    ASSERT_TRUE(stream->Open());
    auto buffer = stream->GetReadBuffer();
    StartReader(buffer);
    ASSERT_TRUE(pty.Send("xyz", 3));
    for (int i = 0; i < 100 && buffer->Count() < 3; ++i) buffer->WaitForData(20);
    ASSERT_EQ(buffer->Count(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // back in a waiting read

    const auto start = Clock::now();
    stream->Close();
    EXPECT_TRUE(reader->Finished(1000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(stream->IsOpen());
    EXPECT_TRUE(buffer->IsOpen());  // bytes remain
    EXPECT_EQ(buffer->ReadByte(), 'x');
    EXPECT_EQ(buffer->ReadByte(), 'y');
    EXPECT_EQ(buffer->ReadByte(), 'z');
    EXPECT_EQ(buffer->ReadByte(), -1);
    EXPECT_FALSE(buffer->IsOpen());
}

TEST_F(SyncStreamUsb, LogGetsExactlyTheReceivedBytesUntilItIsSetToNone) {
    const std::string log = dir.Entry("rx.log");
    std::ofstream(log) << "old";
    EXPECT_FALSE(stream->LogPath(dir.Entry("no/such/dir/rx.log")));
    ASSERT_TRUE(stream->LogPath(log));
    ASSERT_TRUE(stream->Open());
    auto buffer = stream->GetReadBuffer();
    StartReader(buffer);
    const Bytes data = RandomBytes(5000, 5);
    ASSERT_TRUE(pty.Send(data));
    ASSERT_EQ(Drain(*buffer, data.size()), data);
    ASSERT_TRUE(stream->LogPath(std::nullopt));

    Bytes expected = {'o', 'l', 'd'};
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(FileBytes(log), expected);
    ASSERT_TRUE(pty.Send("more", 4));
    EXPECT_EQ(Drain(*buffer, 4).size(), 4u);
    EXPECT_EQ(FileBytes(log), expected);
}

TEST_F(SyncStreamUsb, OpenTwiceKeepsOneLinkAndCloseReleasesIt) {
    EXPECT_FALSE(SyncStream(dir.Entry("absent")).Open());
    ASSERT_TRUE(stream->Open());
    EXPECT_TRUE(stream->Open());  // a second open of the device would have failed
    EXPECT_TRUE(stream->IsOpen());
    stream->Close();
    EXPECT_FALSE(stream->IsOpen());
    Usb_Port other;
    UsbHandle h = other.Init_USB(path);
    EXPECT_TRUE(h);
    other.Close_Usb(h);
}

TEST_F(SyncStreamUsb, DestroyingClosesEveryLinkAfterAModeChange) {
    ASSERT_TRUE(stream->Open());
    auto buffer = stream->GetReadBuffer();
    auto pending = std::async(std::launch::async, [buffer] { buffer->usbRead(); });
    std::ofstream(dir.Entry("rx.bin")) << "x";
    stream->FullFilePath(dir.Entry("rx.bin"));
    ASSERT_TRUE(stream->Open());  // replay now, the USB read still waiting
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    stream.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(pending.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    Usb_Port other;
    UsbHandle h = other.Init_USB(path);
    EXPECT_TRUE(h);
    other.Close_Usb(h);
}

TEST_F(SyncStreamUsb, BaudRateIsZeroOutsideSerialMode) {
    stream->BaudRate(9600);
    EXPECT_EQ(stream->BaudRate(), 0);
    stream->CheckComStatus(true);
    EXPECT_EQ(stream->BaudRate(), 0);
    stream->BaudRate(9600);
    EXPECT_EQ(stream->BaudRate(), 9600);
    stream->CheckComStatus(false);
    EXPECT_EQ(stream->BaudRate(), 0);
}

TEST_F(SyncStreamUsb, CheckUsbStatusFollowsTheDeviceDirectory) {
    ASSERT_TRUE(stream->Open());
    std::filesystem::remove(path);
    stream->CheckUsbStatus();
    EXPECT_FALSE(stream->IsOpen());
    dir.Link("nav0", pty.SlavePath());
    stream->CheckUsbStatus();
    EXPECT_TRUE(stream->IsOpen());
}

TEST_F(SyncStreamUsb, ABufferThatOutlivesItsStreamIsHarmless) {
    ASSERT_TRUE(stream->Open());
    auto buffer = stream->GetReadBuffer();
    stream.reset();
    EXPECT_EQ(buffer->ReadByte(), -1);
    buffer->SendCmd(reinterpret_cast<const uint8_t*>("lost"), 0, 4);
    buffer->usbRead();
    buffer->Close();
    EXPECT_TRUE(pty.ReceiveAll(50).empty());
    Usb_Port other;
    UsbHandle h = other.Init_USB(path);
    EXPECT_TRUE(h);
    other.Close_Usb(h);
}

TEST_F(SyncStreamUsb, UnpluggingAtAnyMomentEndsReadsAndWritesWithoutSpinning) {
    for (int delayMs : {0, 3, 15, 40}) {
        SCOPED_TRACE(delayMs);
        PtyPair device;
        const std::string name = "plug" + std::to_string(delayMs);
        SyncStream plugged(dir.Link(name, device.SlavePath()));
        ASSERT_TRUE(plugged.Open());
        auto buffer = plugged.GetReadBuffer();
        auto reading = std::make_unique<ReaderThread>(plugged, buffer);
        std::atomic<bool> writing{true};
        auto writer = std::async(std::launch::async, [&] {
            const Bytes frame = RandomBytes(3000, 6);
            while (writing) buffer->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
        });
        device.Send(RandomBytes(20000, 7));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        std::filesystem::remove(dir.Entry(name));
        device.CloseMaster();

        const auto start = Clock::now();
        while (buffer->IsOpen() && Clock::now() - start < std::chrono::seconds(2)) {
            Drain(*buffer, 65536, 20);
        }
        EXPECT_FALSE(buffer->IsOpen());  // the link failure marks the buffer
        EXPECT_THROW(buffer->ReadLine(), IOException);
        writing = false;
        EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(500)), std::future_status::ready);

        // The reader keeps polling the dead link until the next device check; it must idle.
        const double cpu = CpuMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(CpuMs() - cpu, 100.0);
        plugged.CheckUsbStatus();
        EXPECT_FALSE(plugged.IsOpen());
        EXPECT_TRUE(reading->Finished(1000));
        plugged.Close();
    }
}

TEST_F(SyncStreamUsb, ReplayDeliversTheFileThenEndsTheStream) {
    const std::string file = dir.Entry("capture.bin");
    const Bytes data = RandomBytes(100000, 8);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    SyncStream missing("unused");
    missing.FullFilePath(dir.Entry("missing.bin"));
    EXPECT_FALSE(missing.Open());

    SyncStream replay("unused");
    replay.FullFilePath(file);
    ASSERT_TRUE(replay.LogPath(dir.Entry("replay.log")));
    ASSERT_TRUE(replay.Open());
    EXPECT_TRUE(replay.IsOpen());
    auto buffer = replay.GetReadBuffer();
    Bytes got;
    for (int32_t c; (c = buffer->ReadByte()) >= 0;) got.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(got, data);
    replay.LogPath(std::nullopt);
    EXPECT_TRUE(FileBytes(dir.Entry("replay.log")).empty());  // replayed bytes are not logged
    replay.Close();
    EXPECT_FALSE(replay.IsOpen());
}

class SyncStreamSerial : public ::testing::Test {
protected:
    std::unique_ptr<SyncStream> SerialStream(PtyPair& pty) {
        auto s = std::make_unique<SyncStream>("unused");
        s->CheckComStatus(true);
        s->ComName(pty.SlavePath());
        s->BaudRate(115200);
        return s;
    }
    PtyPair pty;
};

TEST_F(SyncStreamSerial, ReadsPollThePortAndWritesGoOut) {
    auto stream = SerialStream(pty);
    EXPECT_EQ(stream->BaudRate(), 115200);
    ASSERT_TRUE(stream->Open());
    EXPECT_TRUE(stream->IsOpen());
    EXPECT_TRUE(stream->Port());
    auto buffer = stream->GetReadBuffer();
    EXPECT_EQ(buffer->LowBufThreshold(), 1.0);

    buffer->SendCmd("PING");
    const Bytes sent = pty.Receive(4, 1000);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "PING");
    ASSERT_TRUE(pty.Send("PONG\r\n", 6));
    buffer->ReadTimeout(2000);
    auto line = buffer->ReadLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(std::string(line->begin(), line->end()), "PONG");

    stream->Close();
    EXPECT_FALSE(stream->IsOpen());
    EXPECT_EQ(buffer->ReadByte(), -1);
}

TEST_F(SyncStreamSerial, InputGoesToTheNewestBufferAndTheBridge) {
    PtyPair bridgePty;
    auto bridge = std::shared_ptr<SyncStream>(SerialStream(bridgePty));
    ASSERT_TRUE(bridge->Open());
    auto stream = SerialStream(pty);
    ASSERT_TRUE(stream->Open());
    stream->BridgeStream(bridge);
    auto a = stream->GetReadBuffer();
    auto b = stream->GetReadBuffer();
    auto c = stream->GetReadBuffer();
    a->Close();  // removed: the last entry takes its place, leaving c, b

    ASSERT_TRUE(pty.Send("abc", 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint8_t none[8];
    EXPECT_EQ(c->Read(none, 0, sizeof none), 0);  // polls the port into the newest: b
    EXPECT_EQ(b->Count(), 3);
    EXPECT_EQ(a->Count(), 0);
    const Bytes copied = bridgePty.Receive(3, 1000);
    EXPECT_EQ(std::string(copied.begin(), copied.end()), "abc");
    stream->BridgeStream(nullptr);
    stream->Close();
    bridge->Close();
}

TEST_F(SyncStreamSerial, HangUpMarksTheBuffersFailed) {
    auto stream = SerialStream(pty);
    ASSERT_TRUE(stream->Open());
    auto buffer = stream->GetReadBuffer();
    pty.CloseMaster();
    uint8_t none[8];
    EXPECT_EQ(buffer->Read(none, 0, sizeof none), 0);
    EXPECT_FALSE(buffer->IsOpen());
    EXPECT_THROW(buffer->ReadLine(), IOException);
}

}  // namespace
