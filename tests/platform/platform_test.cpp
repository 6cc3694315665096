#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/codepage.h"
#include "platform/local_time.h"
#include "platform/program_folder.h"
#include "platform/settings.h"
#include "platform/shell.h"
#include "platform/tick.h"

using namespace platform;

TEST(Tick, DifferencesSurviveWrapAround) {
    EXPECT_EQ(TickDiff(5u, 0xFFFFFFFBu), 10);
    EXPECT_EQ(TickDiff(0xFFFFFFFBu, 5u), -10);
    EXPECT_TRUE(TickReached(3u, 0xFFFFFFF0u));
    EXPECT_FALSE(TickReached(0xFFFFFFF0u, 3u));
    EXPECT_EQ(TickRemaining(0xFFFFFFF0u, 3u), 19u);
    EXPECT_EQ(TickRemaining(10u, 3u), 0u);
}

TEST(Tick, SleepAdvancesTheTick) {
    uint32_t start = TickCount();
    SleepMs(30);
    int32_t passed = TickDiff(TickCount(), start);
    EXPECT_GE(passed, 29);
    EXPECT_LT(passed, 2000);
}

TEST(CodePage, ShiftJisRoundTripsThroughUtf8) {
    // "ゴルフ場" in Shift-JIS.
    const std::string sjis = "\x83\x53\x83\x8B\x83\x74\x8F\xEA";
    const std::string utf8 = "\xE3\x82\xB4\xE3\x83\xAB\xE3\x83\x95\xE5\xA0\xB4";
    EXPECT_EQ(ShiftJisToUtf8(sjis), utf8);
    EXPECT_EQ(Utf8ToShiftJis(utf8), sjis);
}

TEST(CodePage, HalfWidthKatakanaAndBackslashFollowCodePage932) {
    // 0xB1 is half-width katakana A; 0x5C stays a backslash in code page 932.
    EXPECT_EQ(ShiftJisToUtf16(std::string("\xB1\x5C", 2)), std::u16string(u"\uFF71\\"));
}

TEST(CodePage, NulBytesPassUnchanged) {
    std::string in("a\0b", 3);
    EXPECT_EQ(ShiftJisToUtf8(in), in);
}

TEST(CodePage, InvalidInputIsReplacedNotDropped) {
    // A lone lead byte at the end and an undefined byte in the middle.
    std::u16string out =
        ShiftJisToUtf16(std::string("A\xA0"
                                    "B\x83",
                                    4));
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out.front(), u'A');
    EXPECT_NE(out.find(u'B'), std::u16string::npos);
    EXPECT_EQ(out.back(), u'\u30FB');
    EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(u"\uFFFD"));
    // One replacement per UTF-16 unit that has no Shift-JIS form.
    EXPECT_EQ(Utf16ToShiftJis(u"\u00E9\u3042x"), "?\x82\xA0x");
}

TEST(CodePage, AsciiBytesReplaceEverythingElse) {
    EXPECT_EQ(ToAsciiBytes(u"ab\u00E9c\u3042"), "ab?c?");
}

TEST(LocalTime, TimestampPattern) {
    std::tm tm{};
    tm.tm_year = 2015 - 1900;
    tm.tm_mon = 3;
    tm.tm_mday = 1;
    tm.tm_hour = 9;
    tm.tm_min = 5;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    EXPECT_EQ(LocalTimestamp(std::mktime(&tm)), "20150401_090507");
}

TEST(Shell, ProgramFolderHoldsThisExecutable) {
    std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), kPathSeparator);
    EXPECT_GE(CountProcessesNamed(CurrentProcessName()), 1);
    EXPECT_EQ(CountProcessesNamed("no-such-process-name-xyz"), 0);
}

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/byte_stream.h"

TEST(ByteStream, FileStreamReadsInPiecesAndSeeks) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("caddora_bs_" + std::to_string(std::rand())))
            .string();
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 300; ++i) std::fputc(i & 0xFF, f);
    std::fclose(f);
    {
        FileStream s(path);
        EXPECT_EQ(s.Length(), 300);
        std::vector<uint8_t> buf(400);
        int32_t total = 0, n;
        while ((n = s.Read(buf.data(), total, 128)) > 0) total += n;
        EXPECT_EQ(total, 300);
        EXPECT_EQ(buf[299], 299 & 0xFF);
        s.Seek(10);
        ASSERT_EQ(s.Read(buf.data(), 0, 1), 1);
        EXPECT_EQ(buf[0], 10);
    }
    std::remove(path.c_str());
    EXPECT_THROW(FileStream("/nonexistent/dir/file"), StreamError);
}

TEST(ByteStream, MemoryStreamEndsWithZero) {
    MemoryStream m(std::vector<uint8_t>{1, 2, 3});
    uint8_t buf[8];
    EXPECT_EQ(m.Read(buf, 1, 8), 3);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(m.Read(buf, 0, 8), 0);
    m.Seek(2);
    EXPECT_EQ(m.Read(buf, 0, 8), 1);
    EXPECT_EQ(buf[0], 3);
}

#ifndef _WIN32  // Windows: tests/win32/paths_test.cpp
TEST(Settings, OptionThenEnvironmentThenDefaultWithoutTrailingSlashes) {
    const char* old = std::getenv(kDeviceDirVariable);
    const std::string saved = old ? old : "";
    struct Case {
        const char* env;  // nullptr: unset
        std::string option;
        std::string expected;
    } cases[] = {
        {nullptr, "", "/dev/caddora"},
        {"", "", "/dev/caddora"},
        {"/tmp/nav//", "", "/tmp/nav"},
        {"/tmp/nav", "/opt/dev/", "/opt/dev"},
        {nullptr, "/", "/"},
    };
    for (const Case& c : cases) {
        if (c.env) {
            ::setenv(kDeviceDirVariable, c.env, 1);
        } else {
            ::unsetenv(kDeviceDirVariable);
        }
        EXPECT_EQ(ResolveSettings(c.option).deviceDir, c.expected)
            << (c.env ? c.env : "(unset)") << " / " << c.option;
    }
    if (old) {
        ::setenv(kDeviceDirVariable, saved.c_str(), 1);
    } else {
        ::unsetenv(kDeviceDirVariable);
    }
}
#endif

#include "platform/output_file.h"
#include "platform/utf8_paths.h"

namespace {
std::string Utf8(std::u8string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}
}  // namespace

// Paths are UTF-8 inside the program; each name must reach the file system as itself (on
// Windows a narrow path would be read in the ANSI code page and lose it).
TEST(Utf8Paths, JapaneseNamesAreWrittenReadAndListedAsThemselves) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() /
                            (u8"caddora-山田-" + fs::path(std::to_string(std::rand())).u8string());
    fs::remove_all(folder);  // what a failed run left
    ASSERT_TRUE(fs::create_directory(folder));
    ASSERT_EQ(PathFromUtf8(PathToUtf8(folder)), folder);
    for (const std::u8string name :
         {u8"テスト.csv", u8"地図.gpx", u8"ファーム.bin", u8"sortie_é.gpx"}) {
        SCOPED_TRACE(Utf8(name));
        const std::string path = PathToUtf8(folder) + kPathSeparator + Utf8(name);
        EXPECT_EQ(PathFromUtf8(path), folder / fs::path(name));
        {
            OutputFile out(path);
            std::fputs("rows", out.Stream());
            out.Commit();
        }
        // The one entry of the folder is the file under its own name: no temporary, no '?'.
        std::vector<fs::path> entries(fs::directory_iterator(folder), {});
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(Utf8(entries[0].filename().u8string()), Utf8(name));
        std::FILE* in = OpenFile(path, "rb");
        ASSERT_NE(in, nullptr);
        char text[8] = {};
        EXPECT_EQ(std::fread(text, 1, sizeof text, in), 4u);
        std::fclose(in);
        EXPECT_STREQ(text, "rows");
        EXPECT_EQ(FileStream(path).Length(), 4);
        fs::remove(entries[0]);
    }
    fs::remove_all(folder);
}
