// caddora-cli's device jobs when the user stops them, when the CSV goes down a pipeline, and
// when the navigator fails before anything was read: what the files, the exit status, the
// summary line and the navigator look like afterwards.
#include <csignal>
#include <span>

#include "app/point_record.h"
#include "e2e/job_run_support.h"
#include "sim/point_records.h"

namespace e2e {
namespace {

constexpr size_t kPoints = 300;

// The CSV file a complete import of the simulator's synthetic points gives.
std::string CompleteCsv(size_t points) {
    std::string csv(PointCsvHeader());
    for (const auto& bytes : sim::EncodePointRecords(sim::SyntheticPoints(points))) {
        csv += FormatPointRowUtf8(
            ParsePointRecord(std::span<const uint8_t, kPointRecordLength>(bytes)));
    }
    return csv;
}

size_t Lines(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
        ++n;
    }
    return n;
}

// Files in `dir` whose name starts with '.' and ends in ".part": temporary files left behind.
size_t LeftoverParts(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(".") && name.ends_with(".part")) ++n;
    }
    return n;
}

class CliJobInterrupt : public JobRun {
protected:
    size_t Frames(const uint8_t kind[2]) const {
        return FramesOf(Journal(), kind[0], kind[1]).size();
    }
};

struct SignalCase {
    const char* name;
    int signal;
    int status;
};

TEST_F(CliJobInterrupt, ImportStopsWithWholeRowsResetsTheNavigatorAndSaysSo) {
    const std::string complete = CompleteCsv(kPoints);
    for (const SignalCase& c :
         {SignalCase{"SIGINT", SIGINT, 130}, SignalCase{"SIGTERM", SIGTERM, 128 + SIGTERM}}) {
        SCOPED_TRACE(c.name);
        // Slow enough replies that the import is well inside its records when the signal comes.
        StartSim(
            With(kQuickPatch, {"--synthetic-points", std::to_string(kPoints), "--delay-ms", "5"}));
        const std::string csv = Path("points.csv");
        WriteBytes(csv, Bytes{'o', 'l', 'd'});
        const CliRun run = CliSignalled({"import-points", "--out", csv},
                                        [&] { return Frames(kSpinorRead) >= 20; }, {c.signal});
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string kept = Slurp(csv);
        const size_t rows = Lines(kept) - 1;
        EXPECT_GE(rows, 19u);
        EXPECT_LT(rows, kPoints) << "the import was not stopped";
        // Exactly the whole rows read: a prefix of the complete file ending at a row's end.
        EXPECT_EQ(kept, complete.substr(0, kept.size()));
        EXPECT_TRUE(kept.ends_with("\r\n"));
        EXPECT_NE(run.err.find("interrupted after " + std::to_string(rows) + " records; the " +
                               std::to_string(rows) + " rows read before are in " + csv),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.err.find("Error!"), std::string::npos) << "a stop is no device error";
        // The failure path reset the device after the last request and closed the link.
        const std::vector<Frame> journal = Journal();
        ASSERT_FALSE(journal.empty());
        EXPECT_TRUE(journal.back().Is(kReset[0], kReset[1]));
        EXPECT_EQ(LeftoverParts(root_), 0u);

        // The navigator is usable at once: the next import reads every point.
        const CliRun again = Cli({"import-points", "--out", csv});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(Slurp(csv), complete);
        StopSim();
    }
}

TEST_F(CliJobInterrupt, SecondSignalEndsAtOnceAndLeavesTheOldFile) {
    // The scratch folder of a map-only import goes into this test's folder.
    const char* tmp = std::getenv("TMPDIR");
    const std::string savedTmp = tmp ? tmp : "";
    ::setenv("TMPDIR", root_.c_str(), 1);
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string file;
    } cases[] = {
        {"csv", {"import-points", "--out", Path("points.csv")}, Path("points.csv")},
        {"gpx alone",
         {"import-points", "--format", "gpx", "--out", Path("points.gpx")},
         Path("points.gpx")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The device falls silent: the first signal waits for the request in flight (2 s).
        StartSim(With(kQuickPatch, {"--synthetic-points", "50", "--silent-after", "13"}));
        WriteBytes(c.file, Bytes{'o', 'l', 'd'});
        // Two different signals: a second one of the same kind may merge with a first one
        // that is still pending.
        const CliRun run =
            CliSignalled(c.args, [&] { return Frames(kSpinorRead) >= 11; }, {SIGINT, SIGTERM});
        StopSim();
        EXPECT_TRUE(run.status == 130 || run.status == 128 + SIGTERM) << run.status;
        EXPECT_LT(run.ms, 1500) << "the second signal did not end the program at once";
        EXPECT_EQ(Slurp(c.file), "old");
        EXPECT_EQ(LeftoverParts(root_), 0u);
        for (const auto& e : fs::directory_iterator(root_)) {
            EXPECT_FALSE(e.path().filename().string().starts_with("caddora-import-"))
                << "scratch folder left: " << e.path();
        }
        fs::remove(JournalPath());
    }
    if (tmp) {
        ::setenv("TMPDIR", savedTmp.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

TEST_F(CliJobInterrupt, CourseWriteAndYmodemStopBeforeTheirNextBlock) {
    // Course data: frames stop, the device keeps the acknowledged ones.
    const Bytes data = Pattern(200 * 2048, 3);
    WriteBytes(Path("jis.bin"), data);
    StartSim({"--mode", "patch", "--ack-delay-ms", "3"});
    CliRun run = CliSignalled({"write-course", Path("jis.bin")},
                              [&] { return Frames(kFwpg) >= 30; }, {SIGINT});
    StopSim();
    EXPECT_EQ(run.status, 130) << run.err;
    const size_t sent = Frames(kFwpg);
    EXPECT_LT(sent, 200u);
    EXPECT_NE(run.err.find("interrupted after " + std::to_string(sent) + " of 200 frames"),
              std::string::npos)
        << run.err;

    // YMODEM: stopped once the device was switched into update mode; the receiver hears the
    // cancel sequence.
    constexpr uint8_t kFwup[2] = {0x06, 0x50};
    const std::string packed = Packed("fw.ckfm", Pattern(400 * 1024, 4), {3, 0, 0, 0, 0, 0, 0, 0});
    StartSim({});
    run = CliSignalled({"ymodem", packed}, [&] { return Frames(kFwup) > 0; }, {SIGINT});
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("interrupted after "), std::string::npos) << run.err;
    EXPECT_EQ(Slurp(DumpDir() + "/ymodem.txt").find("\t1\t"), std::string::npos)
        << "the whole file arrived despite the stop";
    // The receiver left its receive mode: the next transfer goes through.
    const CliRun again = Cli({"ymodem", packed});
    StopSim();
    EXPECT_EQ(again.status, 0) << again.err;
    const std::string cancelled = Slurp(DumpDir() + "/ymodem_cancelled.txt");
    EXPECT_GE(cancelled.empty() ? 0 : std::stoi(cancelled), 1) << "no cancel sequence heard";
}

struct NothingReadCase {
    const char* name;
    std::vector<std::string> sim;
    bool oldFile;
    int status;
    std::string expected;  // the file afterwards; empty: no file
    std::string says;
};

TEST_F(CliJobInterrupt, OldCsvStaysWhenNothingWasRead) {
    const std::string header(PointCsvHeader());
    const std::vector<NothingReadCase> cases = {
        {"flash not found, old file",
         {"--spinor-id", "FFFFFFFF"},
         true,
         1,
         "old",
         "flash did not identify itself (flash not found); "},
        {"flash not found, no file", {"--spinor-id", "FFFFFFFF"}, false, 1, "", " was not written"},
        {"silent at the first record",
         {"--silent-after", "3"},
         true,
         1,
         "old",
         "the navigator stopped answering at record 1; "},
        {"erased flash is a complete import",
         {"--empty-flash"},
         true,
         0,
         header,
         "points written to "},
    };
    for (const NothingReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string csv = Path("points.csv");
        fs::remove(csv);
        if (c.oldFile) WriteBytes(csv, Bytes{'o', 'l', 'd'});
        StartSim(With(kQuickPatch, c.sim));
        const CliRun run = Cli({"import-points", "--out", csv});
        StopSim();
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        if (c.expected.empty()) {
            EXPECT_FALSE(fs::exists(csv));
        } else {
            EXPECT_EQ(Slurp(csv), c.expected);
        }
        EXPECT_EQ(LeftoverParts(root_), 0u);
    }
}

struct StdoutCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    bool csvOnStdout;
    std::string says;  // on stderr
};

TEST_F(CliJobInterrupt, CsvToStandardOutput) {
    const std::string complete = CompleteCsv(kPoints);
    StartSim(With(kQuickPatch, {"--synthetic-points", std::to_string(kPoints)}));
    const std::vector<StdoutCase> cases = {
        {"dash",
         {"import-points", "--out", "-"},
         0,
         true,
         "points written to standard output (300 rows)"},
        {"/dev/stdout",
         {"import-points", "--out", "/dev/stdout"},
         0,
         true,
         "points written to standard output (300 rows)"},
        {"with --json", {"import-points", "--out", "-", "--json"}, 2, false, "--json"},
        {"with a map",
         {"import-points", "--out", "-", "--format", "gpx"},
         2,
         false,
         "maps need a file name"},
    };
    for (const StdoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.csvOnStdout ? complete : "") << "only the CSV goes to stdout";
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Path("-")));
    }

    // Into a pipe whose reader leaves early: the reader has its rows, the navigator is reset.
    const std::string head = Path("head.txt");
    const int status = Shell("cd " + Quote(root_.string()) + " && " + Quote(CliPath()) +
                             " import-points --out - --device-dir " + Quote(DeviceDir()) +
                             " 2>/dev/null | head -n 3 > " + Quote(head));
    EXPECT_EQ(status, 0);
    const size_t third =
        complete.find("\r\n", complete.find("\r\n", complete.find("\r\n") + 2) + 2);
    EXPECT_EQ(Slurp(head), complete.substr(0, third) + "\r\n");
    StopSim();
    EXPECT_TRUE(Journal().back().Is(kReset[0], kReset[1]));
}

}  // namespace
}  // namespace e2e
