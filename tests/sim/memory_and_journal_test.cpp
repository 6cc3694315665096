#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/frame_journal.h"
#include "sim/memory_dump.h"
#include "sim/sim_test_support.h"
#include "sim/sparse_memory.h"

using namespace sim;
using simtest::Bytes;

namespace {

std::string TempDir(const std::string& tag) {
    auto dir = std::filesystem::temp_directory_path() /
               ("simtest_" + tag + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    return dir.string();
}

}  // namespace

TEST(SparseMemory, OverlappingAndTouchingWritesMergeAndLaterBytesWin) {
    SparseMemory m;
    m.Write(100, Bytes{1, 2, 3, 4});
    m.Write(110, Bytes{9, 9});
    EXPECT_EQ(m.Regions().size(), 2u);
    m.Write(104, Bytes{5, 6, 7, 8, 8, 8});  // touches both neighbours
    ASSERT_EQ(m.Regions().size(), 1u);
    EXPECT_EQ(m.Regions()[0].bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 8, 8, 9, 9}));
    m.Write(98, Bytes{0xA, 0xB, 0xC});  // in front, overlapping
    EXPECT_EQ(m.Regions()[0].address, 98u);
    EXPECT_EQ(m.Read(98, 6), (Bytes{0xA, 0xB, 0xC, 2, 3, 4}));
    EXPECT_EQ(m.ByteCount(), 14u);
    EXPECT_TRUE(m.Covers(98, 14));
    EXPECT_FALSE(m.Covers(98, 15));
    EXPECT_FALSE(m.Covers(97, 2));
    EXPECT_EQ(m.Read(110, 6, 0xEE), (Bytes{9, 9, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(SparseMemory, RefusesWritesPastTheAddressSpaceAndIgnoresEmptyOnes) {
    SparseMemory m;
    EXPECT_FALSE(m.Write(0xFFFFFFFF, Bytes{1, 2}));
    EXPECT_TRUE(m.Write(0xFFFFFFFE, Bytes{1, 2}));
    EXPECT_TRUE(m.Write(5, Bytes{}));
    EXPECT_EQ(m.Regions().size(), 1u);
    EXPECT_EQ(m.Read(0xFFFFFFFE, 2), (Bytes{1, 2}));
}

TEST(FrameJournal, LinesRoundTripAndMalformedLinesAreRejected) {
    JournalEntry e;
    e.sequence = 12;
    e.msgClass = 0xF4;
    e.msgId = 0x05;
    e.payload = {0x00, 0x60, 0x02, 0x00, 0xAB};
    e.payloadLength = 5;
    EXPECT_EQ(FormatJournalLine(e), "12 F4 05 5 00600200ab");
    auto back = ParseJournalLine("12 F4 05 5 00600200ab\n");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->payload, e.payload);
    EXPECT_EQ(back->Code(), 0xF405);

    JournalEntry empty;
    empty.sequence = 1;
    empty.msgClass = 0x0A;
    empty.msgId = 0x04;
    EXPECT_EQ(FormatJournalLine(empty), "1 0A 04 0 -");
    auto dropped = ParseJournalLine("7 F4 05 1030 -");
    ASSERT_TRUE(dropped.has_value());
    EXPECT_TRUE(dropped->payloadDropped);
    for (const char* bad : {"", "1 0A 04", "1 0A 04 2 abc", "1 A 04 0 -", "x 0A 04 0 -",
                            "1 0A 04 1 zz", "1 0A 04 0 - extra"}) {
        EXPECT_FALSE(ParseJournalLine(bad).has_value()) << bad;
    }
}

TEST(MemoryDump, WritesRegionsBootMemoryAndStateAndReadsThemBack) {
    DeviceConfig c;
    c.mode = DeviceMode::Boot;
    DeviceModel m(c);
    m.Feed(simtest::Program(0x26000, 0, Bytes(1024, 0x11)));
    m.Feed(simtest::Program(0x90000400, 1, Bytes(4, 0x22)));
    m.Feed(simtest::Program(0, 1, Bytes(64, 0x33)));
    std::string dir = TempDir("dump");
    // A region file from an earlier dump that no longer exists as a region.
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/region_00026400.bin") << "old";
    WriteMemoryDump(dir, m);

    SparseMemory back = ReadMemoryDump(dir);
    EXPECT_EQ(back.Regions().size(), 3u);
    EXPECT_EQ(back.Read(0x26000, 1024), Bytes(1024, 0x11));
    EXPECT_EQ(back.Read(0x90000400, 4), Bytes(4, 0x22));
    EXPECT_FALSE(std::filesystem::exists(dir + "/region_00026400.bin"));
    std::ifstream boot(dir + "/bootmem.bin", std::ios::binary);
    Bytes bootBytes((std::istreambuf_iterator<char>(boot)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bootBytes, Bytes(64, 0x33));
    std::ifstream state(dir + "/state.txt");
    std::string first;
    std::getline(state, first);
    EXPECT_EQ(first, "mode=boot");
    std::string frames;
    std::getline(state, frames);
    EXPECT_EQ(frames, "frames=3");
    std::filesystem::remove_all(dir);
    EXPECT_THROW(ReadMemoryDump(dir), std::runtime_error);
}
