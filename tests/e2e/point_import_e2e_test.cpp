// caddora-cli import-points against caddora-sim: the requests that reached the device and the
// CSV file that came back.
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

const std::string kHeader =
    "\xEF\xBB\xBF\"GCID\",\"Golf Course name\",\"CID\",\"Course name\",\"Hole No\",\"Date\","
    "\"time\",\"Shot (s) or Putt (p)\",\"Additional No\",\"Longitude\",\"Latitude\"\r\n";

class PointImport : public JobRun {
protected:
    std::string WritePoints(const std::string& text) {
        const std::string path = Path("points.txt");
        std::ofstream(path) << text;
        return path;
    }

    // (address, length) of every flash read request, in order.
    std::vector<std::pair<uint32_t, uint16_t>> Reads() const {
        std::vector<std::pair<uint32_t, uint16_t>> reads;
        for (const auto& f : FramesOf(Journal(), kSpinorRead[0], kSpinorRead[1])) {
            reads.emplace_back(Le32(f.payload, 0), Le16(f.payload, 4));
        }
        return reads;
    }

    size_t Count(uint8_t cls, uint8_t id) const { return FramesOf(Journal(), cls, id).size(); }

    static size_t Rows(const std::string& csv) {
        size_t lines = 0;
        for (size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2)) {
            ++lines;
        }
        return lines == 0 ? 0 : lines - 1;
    }
};

TEST_F(PointImport, ThreeSavedPointsThenErasedFlash) {
    StartSim(
        With(kQuickPatch,
             {"--points",
              WritePoints("gcid=10231; golf=富士見ヶ丘カントリー倶楽部; cid=1; course=東コース; "
                          "hole=1; date=2015-04-01; time=09:05:07; utc=540; latraw=21000000; "
                          "lonraw=83400000; kind=s; add=0\n"
                          "gcid=7; golf=Lakeside; cid=2; course=West; hole=18; date=2016-10-23; "
                          "time=23:59:58; utc=-300; latraw=-15000000; lonraw=-48203166; kind=p; "
                          "add=\n"
                          "gcid=42; golf=Pine; cid=3; course=中コース; hole=7; date=2017-01-14; "
                          "time=07:33:02; utc=600; latraw=0; lonraw=600000; kind=s; add=1\n")}));
    const CliRun run = Cli({"import-points", "--out", Path("points.csv")});
    StopSim();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("データの書込みが完了しました。"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(3 rows)"), std::string::npos) << run.out;
    const std::string expected =
        kHeader +
        "\"10231\",\"富士見ヶ丘カントリー倶楽部\",\"1\",\"東コース\",\"1\",\"2015/04/01\","
        "\"09:05:07\",\"s\",\"0\",139.000000,35.000000\r\n"
        "\"7\",\"Lakeside\",\"2\",\"West\",\"18\",\"2016/10/23\",\"23:59:58 UTC-5:00\",\"p\",\"" +
        std::string(1, '\0') +
        "\",-80.338610,-25.000000\r\n"
        "\"42\",\"Pine\",\"3\",\"中コース\",\"7\",\"2017/01/14\",\"07:33:02 UTC+10:00\",\"s\","
        "\"1\",1.000000,0.000000\r\n";
    EXPECT_EQ(Slurp(Path("points.csv")), expected);
    const std::vector<std::pair<uint32_t, uint16_t>> reads = {
        {0, 192}, {192, 192}, {384, 192}, {576, 192}};
    EXPECT_EQ(Reads(), reads);
    // The patch program already ran: nothing uploaded; the one reset of the end.
    EXPECT_EQ(Count(kFwpg[0], kFwpg[1]), 0u);
    EXPECT_EQ(Count(kReset[0], kReset[1]), 1u);
}

TEST_F(PointImport, UtcOffsetColumnForms) {
    const std::pair<int, const char*> cases[] = {
        {540, "09:05:07"},          {600, "09:05:07 UTC+10:00"}, {60, "09:05:07 UTC+1:00"},
        {330, "09:05:07 UTC+5:30"}, {0, "09:05:07 UTC00:00"},    {-300, "09:05:07 UTC-5:00"},
        {-570, "09:05:07 UTC-9:30"}};
    std::string points;
    for (const auto& [offset, column] : cases) {
        points += "gcid=" + std::to_string(offset) +
                  "; time=09:05:07; utc=" + std::to_string(offset) + "; kind=s; add=0\n";
    }
    StartSim(With(kQuickPatch, {"--points", WritePoints(points)}));
    const CliRun run = Cli({"import-points", "--out", Path("utc.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string csv = Slurp(Path("utc.csv"));
    EXPECT_EQ(Rows(csv), 7u);
    for (const auto& [offset, column] : cases) {
        // Rows start behind the previous line's end; the GCID column names the case.
        const std::string start = "\n\"" + std::to_string(offset) + "\",";
        const auto row = csv.find(start);
        ASSERT_NE(row, std::string::npos) << offset;
        const std::string line = csv.substr(row, csv.find("\r\n", row) - row);
        EXPECT_NE(line.find(std::string(",\"") + column + "\",\"s\","), std::string::npos) << line;
    }
}

TEST_F(PointImport, ShortAreaEndsWithAPartialRequestAndTheDoubleReset) {
    StartSim({"--mode", "patch"});
    const CliRun run =
        Cli({"import-points", "--out", Path("short.csv"), "--length", "200", "--start", "C0"});
    StopSim();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::pair<uint32_t, uint16_t>> reads = {{0xC0, 192}, {0x180, 8}};
    EXPECT_EQ(Reads(), reads);
    // The 8-byte tail holds no whole record: one row.
    EXPECT_EQ(Rows(Slurp(Path("short.csv"))), 1u);
    // Outside the boot loader a complete area read resets once more before the end's reset.
    EXPECT_EQ(Count(kReset[0], kReset[1]), 2u);
    EXPECT_EQ(DumpState()["resets"], "2");
}

TEST_F(PointImport, BootLoaderGetsThePatchProgramFirst) {
    StartSim({"--mode", "boot"});
    const CliRun run = Cli({"import-points", "--out", Path("boot.csv")});
    StopSim();
    ASSERT_EQ(run.status, 0) << run.err;
    const auto all = Journal();
    const auto packets = FramesOf(all, kFwpg[0], kFwpg[1]);
    ASSERT_EQ(packets.size(), 15u);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(Le32(packets[i].payload, 0), 0x26000u + 1024 * i);
        EXPECT_EQ(Le16(packets[i].payload, 4), i);
    }
    const auto runs = FramesOf(all, kRun[0], kRun[1]);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(Le32(runs[0].payload, 0), 0x2622Du);
    // The run command comes before the first flash read.
    EXPECT_LT(runs[0].sequence, FramesOf(all, kSpinorRead[0], kSpinorRead[1]).at(0).sequence);
    EXPECT_EQ(Rows(Slurp(Path("boot.csv"))), 7u);  // the simulator's sample points
    EXPECT_EQ(FramesOf(all, kReset[0], kReset[1]).size(), 1u);
}

TEST_F(PointImport, NormalFirmwareNeedsNoPatchAndIsReset) {
    StartSim({"--mode", "normal"});
    const CliRun run = Cli({"import-points", "--out", Path("normal.csv")});
    StopSim();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(kFwpg[0], kFwpg[1]), 0u);
    EXPECT_EQ(Count(kRun[0], kRun[1]), 0u);
    EXPECT_EQ(Rows(Slurp(Path("normal.csv"))), 7u);
    EXPECT_EQ(DumpState()["resets"], "1");
}

TEST_F(PointImport, DeviceFallingSilentKeepsTheRowsAndReportsAnError_Slow) {
    // Frames 1 and 2 are the version queries, 3 the flash id, 4 to 13 ten records.
    StartSim(With(kQuickPatch, {"--synthetic-points", "50", "--silent-after", "13"}));
    const CliRun run = Cli({"import-points", "--out", Path("cut.csv")});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("Error: Error!"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("データの書込みが完了しました。"), std::string::npos) << run.out;
    EXPECT_GE(run.ms, 1900);
    const std::string csv = Slurp(Path("cut.csv"));
    EXPECT_EQ(csv.compare(0, kHeader.size(), kHeader), 0);
    EXPECT_EQ(Rows(csv), 10u);
    EXPECT_EQ(Reads().size(), 11u);
}

TEST_F(PointImport, DefaultFileNameIsTheClockInTheCurrentFolder) {
    StartSim(With(kQuickPatch, {"--empty-flash"}));
    const CliRun run = Cli({"import-points", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<fs::path> csvs;
    for (const auto& e : fs::directory_iterator(root_)) {
        if (e.path().extension() == ".csv") csvs.push_back(e.path());
    }
    ASSERT_EQ(csvs.size(), 1u);
    EXPECT_TRUE(std::regex_match(csvs[0].filename().string(), std::regex(R"(\d{8}_\d{6}\.csv)")));
    // Erased flash at once: the header alone.
    EXPECT_EQ(Slurp(csvs[0].string()), kHeader);
    // One JSON object per line, the result last.
    std::istringstream lines(run.out);
    std::string line, last;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.front(), '{') << line;
        EXPECT_EQ(line.back(), '}') << line;
        last = line;
    }
    EXPECT_NE(last.find("\"type\":\"result\""), std::string::npos) << last;
    EXPECT_NE(last.find("\"ok\":true"), std::string::npos) << last;
    EXPECT_NE(last.find("\"rows\":0"), std::string::npos) << last;
    EXPECT_NE(run.out.find("\"type\":\"message\",\"text\":\"データの書込みが完了しました。\""),
              std::string::npos)
        << run.out;
}

TEST_F(PointImport, OnATerminalProgressIsABarRedrawnInPlace) {
    StartSim(With(kQuickPatch, {"--synthetic-points", "2000"}));
    const CliRun run = CliOnTerminal({"import-points", "--out", Path("bar.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("\r\033[K["), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("/4096 records"), std::string::npos) << run.err;
    // No plain progress lines on a terminal.
    EXPECT_EQ(run.err.find("points: record"), std::string::npos) << run.err;
    EXPECT_EQ(Rows(Slurp(Path("bar.csv"))), 2000u);
}

TEST_F(PointImport, NoNavigatorGivesAHintAndUsageErrorsExitWithTwo) {
    const CliRun none = Cli({"import-points", "--out", Path("none.csv")});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(
        none.err.find("no navigator found in " + DeviceDir() + "; is it plugged in? see README"),
        std::string::npos)
        << none.err;
    // Without USB ids a navigator that has no kernel driver cannot be found; with them the hint
    // would only mislead.
    EXPECT_NE(none.err.find("found only by its USB id (--usb-ids)"), std::string::npos) << none.err;
    const CliRun withIds = Cli({"import-points", "--usb-ids", "0fff:0001", "--out", Path("n.csv")});
    EXPECT_EQ(withIds.err.find("--usb-ids"), std::string::npos) << withIds.err;
    EXPECT_FALSE(fs::exists(Path("none.csv")));
    EXPECT_EQ(Cli({"import-points", "--length", "12x"}).status, 2);
    EXPECT_EQ(Cli({"import-points", "--start", "xyz"}).status, 2);
    EXPECT_EQ(Cli({"write-course", Path("missing.bin")}).status, 2);
}

TEST_F(PointImport, DevicesNamesWhatEachNavigatorRuns) {
    StartSim({"--mode", "patch"});
    const CliRun run = Cli({"devices"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, DeviceDir() +
                           "/navigator0  device directory  patch program  (MDL4200 E3 "
                           "PATCH V1.02)\n");
    StopSim();
    const CliRun none = Cli({"devices", "--json"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("\"ok\":false"), std::string::npos) << none.out;
}

}  // namespace
}  // namespace e2e
