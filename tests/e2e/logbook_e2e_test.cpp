// The logbook through caddora-cli: imports of the same navigator and their CSV files add each
// point once; a logbook that cannot be written costs the import nothing; rounds as JSON.
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

class LogbookCli : public JobRun {};

TEST_F(LogbookCli, RepeatedImportsAndTheirCsvFilesAddEachPointOnce) {
    const std::string book = Path("logbook.sqlite3");
    StartSim(kQuickPatch);
    const CliRun first = Cli({"import-points", "--out", Path("a.csv"), "--logbook", book});
    const CliRun second = Cli({"import-points", "--out", Path("b.csv"), "--logbook", book});
    const CliRun off = Cli({"import-points", "--out", Path("c.csv"), "--no-logbook", "--logbook",
                            Path("none/x.sqlite3")});
    StopSim();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("7 points added, 0 already in the logbook"), std::string::npos)
        << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.err.find("0 points added, 7 already in the logbook"), std::string::npos)
        << second.err;
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.err.find("logbook"), std::string::npos) << off.err;

    const CliRun add =
        Cli({"logbook", "add", Path("a.csv"), Path("c.csv"), "--logbook", book}, false);
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "0 points added, 14 already in the logbook\n");

    const CliRun rounds = Cli({"rounds", "--json", "--logbook", book}, false);
    ASSERT_EQ(rounds.status, 0) << rounds.err;
    EXPECT_NE(rounds.out.find("\"courses\":[\"東コース\",\"西コース\"],\"holes\":2,\"shots\":2,"
                              "\"putts\":1}"),
              std::string::npos)
        << rounds.out;
    EXPECT_EQ(std::count(rounds.out.begin(), rounds.out.end(), '\n'), 5);
}

TEST_F(LogbookCli, AnUnwritableLogbookIsAWarningAndTheCsvFileIsComplete) {
    std::filesystem::create_directory(Path("book"));
    StartSim(kQuickPatch);
    const CliRun run = Cli({"import-points", "--out", Path("a.csv"), "--logbook", Path("book")});
    StopSim();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("warning: the points were not added to the logbook"), std::string::npos)
        << run.err;
    const std::string csv = Slurp(Path("a.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);
}

TEST_F(LogbookCli, AddRefusesAMalformedFileByLineAndKeepsTheOthers) {
    const std::string book = Path("logbook.sqlite3");
    const std::string good = Path("good.csv");
    StartSim(kQuickPatch);
    ASSERT_EQ(Cli({"import-points", "--out", good, "--no-logbook"}).status, 0);
    StopSim();
    const std::string bad = Path("bad.csv");
    { std::ofstream(bad, std::ios::binary) << Slurp(good) << "\"1\",\"x\"\r\n"; }
    const CliRun run = Cli({"logbook", "add", bad, good, "--logbook", book}, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(bad + ", line 9: not a point row; nothing of it was added"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "7 points added, 0 already in the logbook\n");
}

}  // namespace
}  // namespace e2e
