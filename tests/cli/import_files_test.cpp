// Which files import-points writes for each combination of --format and --out.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "cli/import_files.h"

namespace {

// "csv:PATH gpx:PATH ..." for a plan, or "usage" when it is refused.
std::string Describe(const std::vector<std::string>& formats, const std::string& out) {
    std::string usage;
    const auto files = cli::PlanImportFiles(formats, out, "20150401_090507", usage);
    if (!files) return usage.empty() ? "usage without a reason" : "usage";
    std::string text = files->keepCsv ? "csv:" + files->csvPath : "no csv";
    for (const PointMapFile& m : files->maps) {
        text += " " + std::string(mapexport::FormatName(m.format)) + ":" + m.path;
    }
    return text;
}

TEST(ImportFiles, FormatsAndOutNameTheFiles) {
    struct Case {
        std::vector<std::string> formats;
        std::string out;
        std::string files;
    };
    const Case cases[] = {
        {{}, "", "csv:20150401_090507.csv"},
        {{}, "dir/p.csv", "csv:dir/p.csv"},
        {{"csv"}, "", "csv:20150401_090507.csv"},
        {{"gpx", "csv", "kml"}, "dir/p.csv", "csv:dir/p.csv gpx:dir/p.gpx kml:dir/p.kml"},
        {{"csv", "gpx", "gpx"}, "p", "csv:p gpx:p.gpx"},
        {{"gpx"}, "", "no csv gpx:20150401_090507.gpx"},
        {{"kml", "gpx"}, "", "no csv kml:20150401_090507.kml gpx:20150401_090507.gpx"},
        {{"kml"}, "map.xml", "no csv kml:map.xml"},
        {{"gpx", "kml"}, "map.gpx", "usage"},     // two files, one name
        {{"csv", "gpx"}, "points.gpx", "usage"},  // CSV and GPX on one path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.formats) + " --out " + c.out);
        EXPECT_EQ(Describe(c.formats, c.out), c.files);
    }
}

}  // namespace

namespace {

namespace fs = std::filesystem;

PointRecord At(int32_t latitudeRaw) {
    PointRecord r;
    r.year = 2015, r.month = 4, r.day = 1, r.hour = 9;
    r.shotOrPutt = 's', r.additionalNo = '0', r.utcOffset = 540;
    r.latitudeRaw = latitudeRaw;
    return r;
}

// What an import that asked for a map says and leaves, for each way the job and the map ended.
TEST(ImportFiles, SummaryNamesWhatWasWrittenAndWhy) {
    const fs::path dir =
        fs::temp_directory_path() / ("caddora-summary-" + std::to_string(getpid()));
    fs::create_directories(dir / "blocked.gpx");  // a folder where the map should go
    const std::string csv = (dir / "p.csv").string();
    struct Case {
        const char* name;
        bool done;
        std::vector<PointRecord> points;
        bool keepCsv;
        std::string map;
        bool ok;
        std::string detail;
        bool mapWritten;
    };
    const Case cases[] = {
        {"done",
         true,
         {At(0), At(1)},
         true,
         "p.gpx",
         true,
         "points written to " + csv + " (2 rows), " + (dir / "p.gpx").string() + " (2 points)",
         true},
        {"failed after one point, no CSV",
         false,
         {At(0)},
         false,
         "f.gpx",
         false,
         "points read before the failure are in " + (dir / "f.gpx").string() + " (1 point)",
         true},
        {"failed before any point",
         false,
         {},
         false,
         "n.gpx",
         false,
         "the import failed before any point was read; no map was written",
         false},
        {"one point off Earth",
         true,
         {At(0), At(-60000000)},
         false,
         "e.gpx",
         true,
         "points written to " + (dir / "e.gpx").string() + " (1 point)",
         true},
        {"map cannot be written",
         true,
         {At(0)},
         true,
         "blocked.gpx",
         false,
         "points written to " + csv + " (1 row); cannot write " + (dir / "blocked.gpx").string() +
             ": it is a directory",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cli::ImportFiles files;
        files.keepCsv = c.keepCsv;
        files.csvPath = c.keepCsv ? csv : "";
        files.maps = {{mapexport::MapFormat::Gpx, (dir / c.map).string()}};
        JobResult result;
        result.job = JobKind::PointImport;
        result.outcome = c.done ? JobOutcome::Done : JobOutcome::Failed;
        result.points = c.points;
        result.rowsWritten = static_cast<int64_t>(c.points.size());
        const cli::ImportSummary summary = cli::SaveImportMaps(files, result);
        EXPECT_EQ(summary.ok, c.ok);
        EXPECT_EQ(summary.detail.substr(0, c.detail.size()), c.detail);
        EXPECT_EQ(fs::is_regular_file(dir / c.map), c.mapWritten);
    }
    fs::remove_all(dir);
}

}  // namespace
