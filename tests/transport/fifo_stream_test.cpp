#include "transport/fifo_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/tick.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void Put(FIFOStream& f, const Bytes& b) {
    f.Write(b.data(), 0, static_cast<int32_t>(b.size()));
}

Bytes Take(FIFOStream& f, int32_t n) {
    Bytes out(static_cast<size_t>(n));
    out.resize(static_cast<size_t>(f.Read(out.data(), 0, n)));
    return out;
}

// Moves the ring's positions to `pos` so that the next bytes written wrap at the array end.
void Advance(FIFOStream& f, int32_t pos) {
    Put(f, Bytes(static_cast<size_t>(pos), 0xEE));
    ASSERT_EQ(Take(f, pos).size(), static_cast<size_t>(pos));
}

int32_t MsSince(uint32_t start) {
    return platform::TickDiff(platform::TickCount(), start);
}

template <typename Ex, typename Fn>
void ExpectThrowText(Fn fn, const char* text) {
    try {
        fn();
        ADD_FAILURE() << "no exception, expected " << text;
    } catch (const Ex& e) {
        EXPECT_STREQ(e.what(), text);
    }
}

const Bytes kVersionPoll{0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};

}  // namespace

TEST(FIFOStreamRing, ReadAndWriteKeepOrderAcrossTheArrayEnd) {
    FIFOStream f(16, ReceiverBrand::HD);
    Advance(f, 11);
    Put(f, B("0123456789"));  // wraps after 5 bytes
    EXPECT_EQ(f.Count(), 10);
    EXPECT_EQ(Take(f, 3), B("012"));
    EXPECT_EQ(f.Peek(), '3');
    EXPECT_EQ(Take(f, 100), B("3456789"));  // more than buffered: returns what is there
    EXPECT_EQ(Take(f, 5), Bytes{});
    Bytes dst(6, '.');
    Put(f, B("ab"));
    EXPECT_EQ(f.Read(dst.data(), 3, 2), 2);  // offset honoured
    EXPECT_EQ(dst, B("...ab."));
}

TEST(FIFOStreamRing, WriteAcceptsExactFillButWriteByteKeepsOnePlaceFree) {
    FIFOStream f(8, ReceiverBrand::HD);
    Put(f, B("1234567"));
    ExpectThrowText<OverflowException>([&] { f.WriteByte('8'); }, "Internal buffer overflowed");
    EXPECT_EQ(f.Count(), 7);
    ExpectThrowText<OverflowException>([&] { Put(f, B("89")); }, "Internal buffer overflowed");
    Put(f, B("8"));  // exact fill
    EXPECT_EQ(f.Count(), 8);
    ExpectThrowText<OverflowException>([&] { Put(f, B("9")); }, "Internal buffer overflowed");
    EXPECT_EQ(Take(f, 8), B("12345678"));
}

TEST(FIFOStreamRing, RejectsInvalidArgumentsWithoutTouchingTheRing) {
    FIFOStream f(8, ReceiverBrand::HD);
    uint8_t buf[4] = {};
    EXPECT_THROW(f.Read(buf, -1, 2), std::invalid_argument);
    EXPECT_THROW(f.Read(buf, 0, -2), std::invalid_argument);
    EXPECT_THROW(f.Write(nullptr, 0, 2), std::invalid_argument);
    EXPECT_THROW(f.SendCmd(buf, 0, -1), std::invalid_argument);
    EXPECT_THROW(f.SetLength(-1), std::invalid_argument);
    EXPECT_THROW(FIFOStream(-5, ReceiverBrand::HD), std::invalid_argument);
    EXPECT_EQ(f.Count(), 0);
}

TEST(FIFOStreamRing, SetLengthLinearisesWrappedRingAndKeepsOldestWhenShrinking) {
    FIFOStream f(8, ReceiverBrand::HD);
    Advance(f, 6);
    Put(f, B("abcde"));  // wrapped: "ab" at 6..7, "cde" at 0..2
    f.SetLength(12);
    EXPECT_EQ(f.Length(), 12);
    EXPECT_EQ(f.Count(), 5);
    Put(f, B("fghijkl"));  // exactly fills the grown ring
    EXPECT_EQ(Take(f, 12), B("abcdefghijkl"));

    Advance(f, 10);
    Put(f, B("ABCDEF"));  // wrapped again
    f.SetLength(4);
    EXPECT_EQ(f.Count(), 4);
    EXPECT_THROW(Put(f, B("x")), OverflowException);  // full: WritePos back at 0
    EXPECT_EQ(Take(f, 10), B("ABCD"));
    Put(f, B("wxyz"));
    EXPECT_EQ(Take(f, 4), B("wxyz"));
}

TEST(FIFOStreamEvents, LowBufferFollowsTheThresholdAndDiscardRaisesItFirst) {
    FIFOStream f(10, ReceiverBrand::HD);
    std::vector<std::string> calls;
    f.LowBuffer.Subscribe([&](FIFOStream* s) {
        EXPECT_EQ(s, &f);
        calls.push_back(std::string("a").append(std::to_string(s->Count())));
    });
    const int second = f.LowBuffer.Subscribe([&](FIFOStream*) { calls.push_back("b"); });
    Put(f, B("12345"));
    f.Peek();  // 5 is not below 10 x 0.5
    EXPECT_TRUE(calls.empty());
    Take(f, 1);
    f.Peek();
    EXPECT_EQ(calls, (std::vector<std::string>{"a4", "b"}));

    f.LowBuffer.Unsubscribe(second);
    calls.clear();
    f.LowBufThreshold(1.0);  // any ring that is not full asks for a refill
    Put(f, B("abcde"));
    f.Read(nullptr, 0, 0);
    EXPECT_EQ(calls, std::vector<std::string>{"a9"});

    // A polled source that moves pending bytes in when asked: discard drops them too.
    FIFOStream g(10, ReceiverBrand::HD);
    int32_t seen = -1;
    g.LowBuffer.Subscribe([&](FIFOStream* s) {
        seen = s->Count();
        Put(*s, B("late"));
    });
    Put(g, B("old"));
    g.DiscardInBuffer();
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(g.Count(), 0);
}

TEST(FIFOStreamEvents, SendUsbReadAndCloseReachTheirSubscribers) {
    FIFOStream f(16, ReceiverBrand::HD);
    std::vector<std::string> log;
    f.SendCommandEvent.Subscribe([&](const uint8_t* b, int32_t off, int32_t n) {
        log.push_back(std::string(reinterpret_cast<const char*>(b) + off, static_cast<size_t>(n)));
    });
    f.usbLowBuffer.Subscribe([&](FIFOStream* s) { log.push_back(s == &f ? "usb" : "?"); });
    f.StreamClosed.Subscribe([&](FIFOStream* s) { log.push_back(s == &f ? "closed" : "?"); });
    const Bytes frame = B("xxFRAMEyy");
    f.SendCmd(frame.data(), 2, 5);
    f.SendCmd("a\xC3\xA9\xE3\x82\xA2z");  // "aéアz": one '?' per non-ASCII character
    f.usbRead();
    Put(f, B("kept"));
    f.Dispose();
    EXPECT_EQ(log, (std::vector<std::string>{"FRAME", "a??z", "usb", "closed"}));
    EXPECT_TRUE(f.IsOpen());  // closing notifies only
    EXPECT_EQ(Take(f, 4), B("kept"));
}

TEST(FIFOStreamEnd, EndWriteDrainsThenEndsAndEndReadFailsAtOnce) {
    FIFOStream f(16, ReceiverBrand::HD);
    f.ReadTimeout(5000);
    Put(f, B("ab"));
    f.EndWrite();
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.ReadByte(), 'a');
    EXPECT_EQ(f.ReadByte(), 'b');
    EXPECT_FALSE(f.IsOpen());
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(f.ReadByte(), -1);
    EXPECT_LT(MsSince(start), 100);

    FIFOStream g(16, ReceiverBrand::HD);
    Put(g, B("ok\nrest"));
    g.EndRead();
    EXPECT_FALSE(g.IsOpen());
    ExpectThrowText<IOException>([&] { g.ReadLine(); }, "An error occured at SerialPort");
    EXPECT_EQ(g.ReadByte(), 'o');
    EXPECT_EQ(Take(g, 3), B("k\nr"));
}

TEST(FIFOStreamWait, ReadByteTimesOutAfterALittleMoreThanTheTimeOut) {
    FIFOStream f(16, ReceiverBrand::HD);
    f.ReadTimeout(300);
    const uint32_t start = platform::TickCount();
    ExpectThrowText<TimeoutException>([&] { f.ReadByte(); }, "ReadByte Timeout");
    EXPECT_GT(MsSince(start), 300);
    EXPECT_LT(MsSince(start), 1500);
}

TEST(FIFOStreamWait, EndOfStreamDuringAWaitEndsItOnlyWithoutTimeOut) {
    FIFOStream f(16, ReceiverBrand::HD);  // ReadTimeout -1
    std::thread t([&] {
        platform::SleepMs(50);
        f.EndWrite();
    });
    EXPECT_EQ(f.ReadByte(), -1);
    t.join();

    FIFOStream g(16, ReceiverBrand::HD);
    g.ReadTimeout(200);
    std::thread u([&] {
        platform::SleepMs(20);
        g.EndWrite();
    });
    const uint32_t start = platform::TickCount();
    EXPECT_THROW(g.ReadByte(), TimeoutException);
    EXPECT_GT(MsSince(start), 200);
    u.join();

    // A failed source (the device is gone) ends it at once whatever the time-out, and keeps
    // the first reason given.
    FIFOStream h(16, ReceiverBrand::HD);
    h.ReadTimeout(25000);
    EXPECT_EQ(h.Fault(), SourceFault::None);
    std::thread v([&] {
        platform::SleepMs(20);
        h.EndRead(SourceFault::Stalled);
        h.EndRead();
    });
    const uint32_t failStart = platform::TickCount();
    EXPECT_EQ(h.ReadByte(), -1);
    EXPECT_LT(MsSince(failStart), 2000);
    v.join();
    EXPECT_EQ(h.Fault(), SourceFault::Stalled);
    EXPECT_TRUE(h.SourceLost());
}

TEST(FIFOStreamWait, ByteFromAnotherThreadWakesReadByteAtOnce) {
    std::vector<int32_t> latencies;
    for (int i = 0; i < 7; ++i) {
        FIFOStream f(16, ReceiverBrand::HD);
        std::atomic<uint32_t> written{0};
        std::thread t([&] {
            platform::SleepMs(3);
            written = platform::TickCount();
            f.WriteByte(0x42);
        });
        EXPECT_EQ(f.ReadByte(), 0x42);
        latencies.push_back(MsSince(written));
        t.join();
    }
    std::sort(latencies.begin(), latencies.end());
    EXPECT_LT(latencies[latencies.size() / 2], 12);  // polling alone would take about 17 ms
}

TEST(FIFOStreamWait, WaitForDataReportsBytesEndAndTimeOut) {
    FIFOStream f(16, ReceiverBrand::HD);
    uint32_t start = platform::TickCount();
    EXPECT_FALSE(f.WaitForData(60));
    EXPECT_GE(MsSince(start), 55);
    std::thread t([&] {
        platform::SleepMs(20);
        Put(f, B("x"));
    });
    start = platform::TickCount();
    EXPECT_TRUE(f.WaitForData(5000));
    EXPECT_LT(MsSince(start), 2000);
    t.join();
    Take(f, 1);
    std::thread u([&] {
        platform::SleepMs(20);
        f.EndWrite();
    });
    start = platform::TickCount();
    EXPECT_FALSE(f.WaitForData(5000));
    EXPECT_LT(MsSince(start), 2000);
    u.join();
}

TEST(FIFOStreamReadLine, CutsLinesAndFrames) {
    FIFOStream f(65536, ReceiverBrand::HD);
    f.ReadTimeout(2000);
    Put(f, B("AB\r\n\nZ"));
    EXPECT_EQ(f.ReadLine(), B("AB"));
    EXPECT_EQ(f.ReadLine(), Bytes{});  // lone LF: empty line, only the LF consumed
    EXPECT_EQ(f.Count(), 1);
    Take(f, 1);

    Put(f, kVersionPoll);
    Put(f, B("tail\n"));
    EXPECT_EQ(f.ReadLine(), kVersionPoll);
    EXPECT_EQ(f.ReadLine(), B("tail"));

    Put(f, {0xF1, 0xD9, 0x0A, 0x04, 0xFF, 0xFF, 0x00});  // 65,535 + 8 > capacity
    EXPECT_EQ(f.ReadLine(), Bytes{0xF1});
    EXPECT_EQ(f.Count(), 6);
}

TEST(FIFOStreamReadLine, OtherBrandsUseTheirPrefixAndLengthLayout) {
    FIFOStream big(64, ReceiverBrand::PrefixA0A2);  // big-endian length at offset 2
    const Bytes frame{0xA0, 0xA2, 0x00, 0x02, 0x11, 0x22, 0x00, 0x33, 0xB0, 0xB3};
    Put(big, frame);
    Put(big, B("rest\n"));
    EXPECT_EQ(big.ReadLine(), frame);
    EXPECT_EQ((FIFOStream(8, static_cast<ReceiverBrand>(5)).BinaryPrefix()),
              (std::array<uint8_t, 2>{0xB5, 0x62}));
    EXPECT_EQ(FIFOStream(8, ReceiverBrand::Prefix81FF).BinaryPrefix(),
              (std::array<uint8_t, 2>{0x81, 0xFF}));
    FIFOStream hd(64, ReceiverBrand::HD);
    Put(hd, frame);  // not a frame for this brand: read as text up to the LF
    Put(hd, B("\n"));
    EXPECT_EQ(hd.ReadLine(), frame);
}

TEST(FIFOStreamReadLine, WrappedLineAndFrameComeOutWhole) {
    FIFOStream f(16, ReceiverBrand::HD);
    Advance(f, 12);
    Put(f, B("wrapped\n"));
    EXPECT_EQ(f.ReadLine(), B("wrapped"));
    Advance(f, 9);  // the frame's length field lies past the array end
    Put(f, kVersionPoll);
    EXPECT_EQ(f.ReadLine(), kVersionPoll);
}

TEST(FIFOStreamReadLine, WaitsForAPayloadWrittenByAnotherThread) {
    FIFOStream f(4096, ReceiverBrand::HD);
    f.ReadTimeout(5000);
    Bytes frame{0xF1, 0xD9, 0xF4, 0x31, 0x04, 0x00, 1, 2, 3, 4, 0xAA, 0xBB};
    Put(f, Bytes(frame.begin(), frame.begin() + 6));
    std::thread t([&] {
        platform::SleepMs(40);
        Put(f, Bytes(frame.begin() + 6, frame.end()));
    });
    EXPECT_EQ(f.ReadLine(), frame);
    t.join();
}

TEST(FIFOStreamReadLine, TimesOutWithoutLosingThePartialLine) {
    FIFOStream f(64, ReceiverBrand::HD);
    f.ReadTimeout(150);
    Put(f, B("partial"));
    const uint32_t start = platform::TickCount();
    ExpectThrowText<TimeoutException>([&] { f.ReadLine(); }, "ReadLine Timeout");
    EXPECT_GT(MsSince(start), 150);
    EXPECT_EQ(f.Count(), 7);
}

TEST(FIFOStreamReadLine, LastUnterminatedLineAfterEndWrite) {
    FIFOStream f(64, ReceiverBrand::HD);
    Put(f, B("XYZ"));
    f.EndWrite();
    EXPECT_EQ(f.ReadLine(), B("XYZ"));
    EXPECT_EQ(f.ReadLine(), std::nullopt);

    FIFOStream one(64, ReceiverBrand::HD);
    Put(one, B("Q"));
    one.EndWrite();
    EXPECT_EQ(one.ReadLine(), std::nullopt);
    EXPECT_EQ(one.Count(), 1);

    // A full ring cannot take an extra line end; the line still comes out, once.
    FIFOStream full(8, ReceiverBrand::HD);
    Advance(full, 5);
    Put(full, B("ghijklm\r"));  // wraps, fills exactly
    full.EndWrite();
    EXPECT_EQ(full.ReadLine(), B("ghijklm"));
    EXPECT_EQ(full.ReadLine(), std::nullopt);

    // A terminated line that wraps is one line, not a line and an empty one.
    FIFOStream wrap(8, ReceiverBrand::HD);
    Advance(wrap, 6);
    Put(wrap, B("abc\n"));
    wrap.EndWrite();
    EXPECT_EQ(wrap.ReadLine(), B("abc"));
    EXPECT_EQ(wrap.ReadLine(), std::nullopt);
}

TEST(FIFOStreamReadLine, EndsWhenAnotherReaderLeavesOneByteAtTheEnd) {
    // The reader has scanned "abc" for a line end; another reader takes two bytes and the
    // stream ends with the lone "c": nothing can be formed, and ReadLine must say so. Shared
    // state and a detached thread, so a fault fails the test instead of hanging it.
    auto f = std::make_shared<FIFOStream>(64, ReceiverBrand::HD);
    Put(*f, B("abc"));
    auto result = std::make_shared<std::promise<std::optional<Bytes>>>();
    auto done = result->get_future();
    std::thread([f, result] { result->set_value(f->ReadLine()); }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it scan once
    EXPECT_EQ(Take(*f, 2), B("ab"));
    f->EndWrite();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(done.get(), std::nullopt);
}

TEST(FIFOStreamThreads, WriterAndReaderExchangeMegabytesInOrder) {
    constexpr int32_t kTotal = 4 << 20;
    FIFOStream f(65536, ReceiverBrand::HD);
    auto pattern = [](int32_t i) { return static_cast<uint8_t>((i * 7) ^ (i >> 11)); };
    std::thread writer([&] {
        std::mt19937 rng(1);
        Bytes chunk(4096);
        for (int32_t sent = 0; sent < kTotal;) {
            const int32_t n =
                std::min<int32_t>(1 + static_cast<int32_t>(rng() % 4096), kTotal - sent);
            for (int32_t k = 0; k < n; ++k) chunk[static_cast<size_t>(k)] = pattern(sent + k);
            while (f.Length() - f.Count() < n) platform::SleepMs(1);  // flow control
            f.Write(chunk.data(), 0, n);
            sent += n;
        }
        f.EndWrite();
    });
    std::mt19937 rng(2);
    Bytes buf(4096);
    int32_t got = 0;
    int32_t mismatches = 0;
    while (got < kTotal) {
        const int32_t n = f.Read(buf.data(), 0, 1 + static_cast<int32_t>(rng() % 4096));
        for (int32_t k = 0; k < n; ++k)
            mismatches += buf[static_cast<size_t>(k)] != pattern(got + k);
        got += n;
        if (n == 0 && !f.WaitForData(1000) && !f.IsOpen()) break;
    }
    writer.join();
    EXPECT_EQ(got, kTotal);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(f.ReadByte(), -1);
}

TEST(FIFOStreamThreads, ReadLineFollowsAConcurrentWriter) {
    FIFOStream f(256, ReceiverBrand::HD);
    f.ReadTimeout(10000);
    constexpr int kLines = 2000;
    std::thread writer([&] {
        for (int i = 0; i < kLines; ++i) {
            const Bytes line = B(
                std::string(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26)) + "\r\n");
            while (f.Length() - f.Count() < static_cast<int32_t>(line.size())) platform::SleepMs(1);
            Put(f, line);
        }
        f.EndWrite();
    });
    int i = 0;
    for (auto line = f.ReadLine(); line; line = f.ReadLine(), ++i) {
        ASSERT_EQ(*line,
                  B(std::string(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26))));
    }
    writer.join();
    EXPECT_EQ(i, kLines);
}
