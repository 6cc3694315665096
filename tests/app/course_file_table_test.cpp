// The course file table, file kinds, and the point area settings.
#include <gtest/gtest.h>

#include "app/course_file_table.h"
#include "app/point_area.h"

namespace {

TEST(CourseFileTable, EachListedNameSelectsItsAddress) {
    EXPECT_EQ(CourseFileAddress("kx20x20.bin"), 0xC0000000u);
    EXPECT_EQ(CourseFileAddress("jis.bin"), 0xC0080000u);
    EXPECT_EQ(CourseFileAddress("kx10x20.bin"), 0xC00F0000u);
    EXPECT_EQ(CourseFileAddress("index4.dat"), 0xC0100000u);
    EXPECT_EQ(CourseFileAddress("packed.k16"), 0xC1100000u);
    EXPECT_EQ(CourseFileAddress("index4.kzip"), 0xC0000000u);
}

TEST(CourseFileTable, NamesMatchExactlyAndCaseSensitively) {
    for (const char* name : {"JIS.BIN", "Jis.bin", "jis.bin ", " jis.bin", "jis.bin.bak",
                             "xjis.bin", "jis", "", "index4.ckfm", "INDEX4.KZIP"}) {
        EXPECT_FALSE(CourseFileAddress(name).has_value()) << '"' << name << '"';
    }
}

TEST(CourseFileTable, TheNameIsThePathsLastComponent) {
    EXPECT_EQ(CourseFileName("/home/u/data/index4.kzip"), "index4.kzip");
    EXPECT_EQ(CourseFileName("jis.bin"), "jis.bin");
    EXPECT_EQ(CourseFileName("/tmp/dir/"), "");
    // A folder named like a table entry does not make its files table entries.
    EXPECT_FALSE(CourseFileAddress(CourseFileName("/jis.bin/other")).has_value());
}

TEST(CourseFileTable, SlotsEndAtTheNextAddressOrTheEndOfTheAddressSpace) {
    EXPECT_EQ(CourseFileSlotSize("kx20x20.bin"), 0x80000u);
    EXPECT_EQ(CourseFileSlotSize("jis.bin"), 0x70000u);
    EXPECT_EQ(CourseFileSlotSize("kx10x20.bin"), 0x10000u);
    EXPECT_EQ(CourseFileSlotSize("index4.dat"), 0x1000000u);
    EXPECT_EQ(CourseFileSlotSize("packed.k16"), 0x100000000u - 0xC1100000u);
    EXPECT_EQ(CourseFileSlotSize("index4.kzip"), 0x40000000u);
    EXPECT_EQ(CourseFileSlotSize("JIS.BIN"), 0u);
}

TEST(CourseFileKind, DecidedByTheExactEnding) {
    EXPECT_EQ(CourseFileKind("/c/pack.ckfm"), kKroTypePacked);
    EXPECT_EQ(CourseFileKind("/c/index4.kzip"), kKroTypeGzip);
    EXPECT_EQ(CourseFileKind("/c/jis.bin"), kKroTypeRaw);
    EXPECT_EQ(CourseFileKind("/c/INDEX4.KZIP"), kKroTypeRaw);
    EXPECT_EQ(CourseFileKind("/c/index4.kzip.bak"), kKroTypeRaw);
    EXPECT_EQ(CourseFileKind("kzip"), kKroTypeRaw);
}

TEST(PointArea, DefaultLengthIs4096RecordsOf192Bytes) {
    const auto length = ParseAreaLength("786432");
    ASSERT_TRUE(length);
    const PointArea area{0, *length};
    EXPECT_EQ(area.RecordCount(), 4096u);
    EXPECT_EQ(area.RequestAddress(4095), 786240u);
    EXPECT_EQ(area.RequestLength(4095), 192);
}

TEST(PointArea, AShortLastRequestTakesWhatIsLeft) {
    const PointArea area{0x100, 200};
    EXPECT_EQ(area.RecordCount(), 2u);
    EXPECT_EQ(area.RequestAddress(0), 0x100u);
    EXPECT_EQ(area.RequestLength(0), 192);
    EXPECT_EQ(area.RequestAddress(1), 0x1C0u);
    EXPECT_EQ(area.RequestLength(1), 8);
    EXPECT_EQ((PointArea{0, 0}.RecordCount()), 0u);
    EXPECT_EQ((PointArea{0, 1}.RecordCount()), 1u);
    EXPECT_EQ((PointArea{0, 4294967295u}.RecordCount()), 22369622u);
}

TEST(PointArea, LengthTextIsUnsignedDecimal) {
    EXPECT_EQ(ParseAreaLength(" 200 "), 200u);
    EXPECT_EQ(ParseAreaLength("0"), 0u);
    EXPECT_EQ(ParseAreaLength("4294967295"), 4294967295u);
    for (const char* bad : {"", " ", "-1", "+5", "4294967296", "12a", "0x10", "1 2"}) {
        EXPECT_FALSE(ParseAreaLength(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(PointArea, StartTextIsHexadecimalAndAnythingElseIsZero) {
    EXPECT_EQ(ParseAreaStart("0"), 0u);
    EXPECT_EQ(ParseAreaStart("  1f0 "), 0x1F0u);
    EXPECT_EQ(ParseAreaStart("C0000"), 0xC0000u);
    EXPECT_EQ(ParseAreaStart("zz"), 0u);
    EXPECT_EQ(ParseAreaStart(""), 0u);
    EXPECT_EQ(ParseAreaStart("123456789"), 0u);  // more than 32 bits
}

}  // namespace
