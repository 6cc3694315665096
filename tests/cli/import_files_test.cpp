// Which files import-points writes for each combination of --format and --out.
#include <gtest/gtest.h>

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
