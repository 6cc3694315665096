// Session logs of the jobs against caddora-sim, played back by caddora-cli replay with the
// simulator gone: the same exit status, summary and CSV; a changed recording is named.
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

const Bytes kYmodemSub = {3, 0, 0, 0, 0, 0, 0, 0};

// The failure's summary line on stderr (progress lines aside), or "".
std::string SummaryLine(const std::string& err) {
    std::string summary;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("caddora-cli ", 0) == 0) summary = line;
    }
    return summary;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
}

class SessionReplay : public JobRun {
protected:
    // The job's file, made in this folder: "" for an import.
    std::string JobFile(const std::string& job) {
        if (job == "write-course") {
            WriteBytes(Path("jis.bin"), Pattern(5 * 2048, 9));
            return Path("jis.bin");
        }
        if (job == "write-firmware") return Packed("fw.ckfm", Pattern(3000, 2));
        if (job == "ymodem") return Packed("up.ckfm", Pattern(20 * 1024 + 5, 3), kYmodemSub);
        return {};
    }

    // Runs `job` against the simulator with --log; the log's path.
    CliRun Record(const std::string& job, const std::vector<std::string>& simArgs) {
        const std::string file = JobFile(job);
        StartSim(simArgs);
        std::vector<std::string> args = {job, "--log", Path("session.log")};
        if (job == "import-points") {
            args.insert(args.end(), {"--out", Path("points.csv"), "--no-logbook"});
        } else {
            args.push_back(file);
        }
        CliRun run = Cli(args);
        StopSim();
        return run;
    }

    CliRun Replay(const std::string& log, bool import = false) {
        if (!import) return Cli({"replay", log}, false);
        return Cli({"replay", log, "--out", Path("points.csv")}, false);
    }
};

struct Case {
    const char* name;
    const char* job;
    std::vector<std::string> sim;
    int status;
};

TEST_F(SessionReplay, EveryJobReplaysToTheSameEndWithNoDevice) {
    const std::vector<Case> cases = {
        {"import", "import-points", {"--mode", "normal", "--synthetic-points", "40"}, 0},
        {"import, navigator vanishes",
         "import-points",
         {"--mode", "normal", "--synthetic-points", "40", "--vanish-after", "12"},
         1},
        {"course", "write-course", kQuickPatch, 0},
        {"course, frame refused", "write-course", With(kQuickPatch, {"--nak-frame", "5"}), 1},
        {"firmware", "write-firmware", {"--mode", "boot"}, 0},
        {"firmware, navigator falls silent",
         "write-firmware",
         {"--mode", "boot", "--silent-after", "3"},
         1},
        {"ymodem", "ymodem", {}, 0},
        {"ymodem, update command refused", "ymodem", {"--nak-frame", "3"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path("points.csv"));
        const CliRun recorded = Record(c.job, c.sim);
        ASSERT_EQ(recorded.status, c.status) << recorded.out << recorded.err;
        const std::string log = Slurp(Path("session.log"));
        EXPECT_NE(log.find("\nsent "), std::string::npos) << log.substr(0, 2000);
        EXPECT_NE(log.find("\nexit "), std::string::npos);
        const std::string csv = Slurp(Path("points.csv"));
        fs::remove(Path("points.csv"));

        const CliRun replayed = Replay(Path("session.log"), std::string(c.job) == "import-points");
        EXPECT_EQ(replayed.status, recorded.status) << replayed.out << replayed.err;
        EXPECT_EQ(replayed.out, recorded.out);
        EXPECT_EQ(SummaryLine(replayed.err), SummaryLine(recorded.err)) << replayed.err;
        EXPECT_EQ(replayed.err.find("replay:"), std::string::npos) << replayed.err;
        if (std::string(c.job) == "import-points") {
            EXPECT_EQ(Slurp(Path("points.csv")), csv);
            EXPECT_FALSE(csv.empty());
        }
    }
}

TEST_F(SessionReplay, AChangedSentByteNamesThatFrame) {
    ASSERT_EQ(Record("write-course", kQuickPatch).status, 0);
    std::vector<std::string> lines = Lines(Slurp(Path("session.log")));
    // The third frame sent: flip one payload digit.
    int sent = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines.size() && sent < 3; ++i) {
        if (lines[i].rfind("sent ", 0) == 0 && ++sent == 3) at = i;
    }
    ASSERT_GT(at, 0u);
    const std::size_t hex = lines[at].find(' ', 5) + 1;
    char& digit = lines[at][hex + 14];
    digit = digit == '0' ? '1' : '0';
    WriteLines(Path("edited.log"), lines);

    const CliRun run = Replay(Path("edited.log"));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("sent frame 3 (line " + std::to_string(at + 1) + ", byte 7)"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("differs: recorded frame with a bad checksum, now "), std::string::npos)
        << run.err;
}

TEST_F(SessionReplay, AWindowLogReplaysWithTheFileItsDialogGave) {
    const CliRun recorded = Record("write-course", kQuickPatch);
    ASSERT_EQ(recorded.status, 0);
    // As the window writes it: the command line names the job alone.
    std::vector<std::string> window;
    for (const std::string& line : Lines(Slurp(Path("session.log")))) {
        if (line.rfind("arg ", 0) != 0) window.push_back(line);
        if (line.rfind("os ", 0) == 0)
            window.insert(window.end(), {"arg caddora", "arg write-course"});
    }
    WriteLines(Path("window.log"), window);
    const CliRun replayed = Replay(Path("window.log"));
    EXPECT_EQ(replayed.status, 0) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
}

TEST_F(SessionReplay, HostileLogsAreRefusedWithTheirLine) {
    ASSERT_EQ(Record("import-points", {"--mode", "normal", "--synthetic-points", "3"}).status, 0);
    const std::vector<std::string> lines = Lines(Slurp(Path("session.log")));
    const std::size_t firstSent = [&] {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("sent ", 0) == 0) return i;
        }
        return std::size_t{0};
    }();
    ASSERT_GT(firstSent, 0u);
    auto edited = [&](std::size_t line, const std::string& text) {
        auto copy = lines;
        copy[line] = text;
        return copy;
    };
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::string error;
    } cases[] = {
        {"foreign", {"time,lat,lon", "1,2,3"}, "line 1: this is not a caddora session log"},
        {"truncated", std::vector<std::string>(lines.begin(), lines.end() - 3),
         "line " + std::to_string(lines.size() - 2) + ": the log ends before"},
        {"odd hex",
         edited(firstSent, lines[firstSent].substr(0, lines[firstSent].find(' ', 5)) + " f1d90"),
         "line " + std::to_string(firstSent + 1) + ": the chunk's bytes are not whole"},
        {"time backwards", edited(firstSent + 1, "recv 1 f1d9"),
         "line " + std::to_string(firstSent + 2) + ": the time goes backwards"},
        {"unknown event", edited(firstSent, "bogus 5"),
         "line " + std::to_string(firstSent + 1) + ": unknown event 'bogus'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteLines(Path("hostile.log"), c.lines);
        const CliRun run = Replay(Path("hostile.log"), true);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_LT(run.ms, 5000);
    }
}

}  // namespace
}  // namespace e2e
