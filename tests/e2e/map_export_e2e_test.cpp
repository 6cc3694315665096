// Maps of the saved points: the simulator's sample points imported to CSV, converted by
// caddora-cli to GPX and KML, and read back by independent readers; and convert's refusals.
#include <sys/resource.h>
#include <sys/stat.h>

#include "app/point_record.h"
#include "e2e/job_run_support.h"
#include "support/map_readers.h"

namespace e2e {
namespace {

// The simulator's sample points: names and their UTC times, worked out by hand from the stored
// local times and offsets (540, 600, -300, 330).
const std::map<std::string, std::string> kSampleUtc = {
    {"H1 s0", "2015-04-01T00:05:07"},  {"H1 p0", "2015-04-01T00:21:44"},
    {"H12 s1", "2015-04-01T04:02:09"}, {"H7 s0", "2016-10-23T01:48:30"},
    {"H5 s0", "2017-01-13T21:33:02"},  {"H18 p0", "2017-03-05T20:12:57"},
    {"H9 s0", "2018-02-11T02:30:15"},
};

class MapExport : public JobRun {
protected:
    // Longitude and latitude of every row of the CSV file, in order, as the file has them.
    static std::vector<std::pair<double, double>> CsvCoordinates(const std::string& csv) {
        std::vector<std::pair<double, double>> out;
        std::istringstream in(csv);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            const auto lat = line.rfind(',');
            const auto lon = line.rfind(',', lat - 1);
            out.emplace_back(std::stod(line.substr(lon + 1, lat - lon - 1)),
                             std::stod(line.substr(lat + 1)));
        }
        return out;
    }
};

TEST_F(MapExport, SamplePointsReadBackWithTheirCoordinatesAndUtcTimes) {
    StartSim(kQuickPatch);
    // Japanese (and accented) folder and file names, as on the owners' PCs.
    const std::string folder = Path("山田");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string csv = folder + "/テスト.csv";
    const CliRun import = Cli({"import-points", "--out", csv});
    StopSim();
    ASSERT_EQ(import.status, 0) << import.err;
    const auto coordinates = CsvCoordinates(Slurp(csv));
    ASSERT_EQ(coordinates.size(), kSampleUtc.size());

    for (const std::string format : {"gpx", "kml"}) {
        SCOPED_TRACE(format);
        const CliRun run = Cli({"convert", csv, "--to", format}, false);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string map = folder + "/テスト." + format;
        EXPECT_NE(run.out.find("7 points written to " + map), std::string::npos) << run.out;
        std::string lint;
        EXPECT_TRUE(map_readers::XmllintAccepts(map, &lint)) << lint;
        map_readers::ToolRun babel;
        const auto read = map_readers::GpsbabelPoints(format, map, &babel);
        ASSERT_EQ(read.size(), kSampleUtc.size()) << babel.out;
        // The sample's rounds are in time order already, so the waypoints follow the rows.
        for (size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE(read[i].name);
            ASSERT_TRUE(kSampleUtc.count(read[i].name));
            EXPECT_EQ(read[i].utc, kSampleUtc.at(read[i].name));
            EXPECT_NEAR(read[i].longitude, coordinates[i].first, 5e-7);
            EXPECT_NEAR(read[i].latitude, coordinates[i].second, 5e-7);
        }
    }
    for (const std::string out : {"地図.gpx", "sortie_é.gpx"}) {
        const CliRun run = Cli({"convert", csv, "--to", "gpx", "--out", folder + "/" + out}, false);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Slurp(folder + "/" + out), Slurp(folder + "/テスト.gpx")) << out;
    }
}

// Maps from the records the import read: the CSV file stays byte for byte what it was, and each
// map is the same file convert makes from that CSV.
TEST_F(MapExport, ImportWritesMapsBesideTheCsvFromTheRecordsRead) {
    // A fresh navigator for each import: after its reset one would wait out the mode queries.
    auto import = [this](const std::vector<std::string>& args) {
        StartSim(kQuickPatch);
        std::vector<std::string> all = {"import-points"};
        all.insert(all.end(), args.begin(), args.end());
        const CliRun run = Cli(all);
        StopSim();
        return run;
    };
    const CliRun plain = import({"--out", Path("plain.csv")});
    const CliRun all =
        import({"--format", "csv", "--format", "gpx", "--format", "kml", "--out", Path("all.csv")});
    const CliRun only = import({"--format", "kml", "--out", Path("only.kml")});
    const CliRun json = import({"--format", "gpx", "--json"});
    for (const CliRun* run : {&plain, &all, &only, &json}) ASSERT_EQ(run->status, 0) << run->err;
    EXPECT_EQ(Slurp(Path("all.csv")), Slurp(Path("plain.csv")));
    EXPECT_NE(all.out.find("points written to " + Path("all.csv") + " (7 rows), " +
                           Path("all.gpx") + " (7 points), " + Path("all.kml") + " (7 points)"),
              std::string::npos)
        << all.out;
    for (const std::string format : {"gpx", "kml"}) {
        SCOPED_TRACE(format);
        const std::string converted = Path("converted." + format);
        ASSERT_EQ(
            Cli({"convert", Path("all.csv"), "--to", format, "--out", converted}, false).status, 0);
        EXPECT_EQ(Slurp(Path("all." + format)), Slurp(converted));
        const auto read = map_readers::GpsbabelPoints(format, Path("all." + format));
        ASSERT_EQ(read.size(), kSampleUtc.size());
        for (const auto& p : read) EXPECT_EQ(p.utc, kSampleUtc.at(p.name)) << p.name;
    }
    EXPECT_EQ(Slurp(Path("only.kml")), Slurp(Path("all.kml")));
    // Maps only: no CSV file is left anywhere in the working folder.
    std::vector<std::string> csvs;
    for (const auto& e : fs::directory_iterator(Path(""))) {
        if (e.path().extension() == ".csv") csvs.push_back(e.path().filename().string());
    }
    std::sort(csvs.begin(), csvs.end());
    EXPECT_EQ(csvs, (std::vector<std::string>{"all.csv", "plain.csv"}));
    EXPECT_NE(json.out.find("\"file\":\"" + Path("")), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(".gpx\",\"points\":7,"), std::string::npos) << json.out;
}

// convert never holds the file or the map whole: a CSV file of 16 MiB whose every row is a
// round of its own (the most a file can make it keep) converts in a fraction of that memory.
TEST_F(MapExport, ConvertReadsAndWritesAsItGoes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own memory would be measured";
#endif
    const std::string csv = Path("large.csv");
    std::size_t rows = 0;
    {
        std::ofstream out(csv, std::ios::binary);
        out << PointCsvHeader();
        PointRecord r;
        r.year = 2015, r.month = 4, r.hour = 9, r.utcOffset = 540;
        r.shotOrPutt = 's', r.additionalNo = '0';
        for (std::size_t size = 0; size < (16u << 20); ++rows) {
            r.golfCourseName = "Golf course " + std::to_string(rows);
            r.day = static_cast<uint8_t>(1 + rows % 28);
            r.minute = static_cast<uint8_t>(rows % 60);
            const std::string row = FormatPointRowUtf8(r);
            out << row;
            size += row.size();
        }
    }
    const pid_t pid = testsupport::SpawnToFiles(CliPath(), {"convert", csv, "--to", "kml"},
                                                Path("cli.stdout"), Path("cli.stderr"));
    int status = 0;
    rusage usage{};
    for (int waited = 0; wait4(pid, &status, WNOHANG, &usage) == 0; waited += 10) {
        if (waited > 60000) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(Path("cli.stderr"));
    EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "peak resident KiB";
    EXPECT_NE(Slurp(Path("cli.stdout")).find(std::to_string(rows) + " points written"),
              std::string::npos);
}

TEST_F(MapExport, ConvertRefusesWhatIsNoPointCsvAndLeavesFilesAlone) {
    const std::string good = Path("good.csv");
    WriteBytes(good, {0xEF, 0xBB, 0xBF});
    const std::string bad = Path("bad.csv");
    std::ofstream(bad) << "not,a,point,file\n";
    const std::string fifo = Path("fifo.csv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string existing = Path("kept.gpx");
    std::ofstream(existing) << "an earlier map";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {"missing file", {Path("none.csv")}, "no such file"},
        {"directory", {Path("dev")}, "not a regular file"},
        {"FIFO", {fifo}, "not a regular file"},
        {"not a point CSV", {bad, "--out", existing}, "line 1: not the header"},
        {"the CSV as output", {good, "--out", good}, "is the CSV file itself"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"convert"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--to", "gpx"});
        const CliRun run = Cli(args, false);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Slurp(existing), "an earlier map");
    EXPECT_EQ(ReadBytes(good).size(), 3u);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Path(""))) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"bad.csv", "cli.stderr", "cli.stdout", "dev",
                                              "fifo.csv", "good.csv", "kept.gpx"}));
    EXPECT_EQ(Cli({"convert", good, "--to", "svg"}, false).status, 2);
}

}  // namespace
}  // namespace e2e
