// The window's "also save GPX and KML" choice: maps beside the CSV file after a complete
// import, nothing more when it is off, and a warning after the usual message when a map cannot
// be saved.
#include <filesystem>
#include <fstream>

#include "app/point_export.h"
#include "app/point_import_maps.h"
#include "app_fixture.h"
#include "export/map_format.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

using testsupport::Slurp;

class PointMapsTest : public AppTest {
protected:
    std::string Beside(const char* extension) const { return dir_.Path() + "-points" + extension; }
    void TearDown() override {
        std::error_code ec;
        for (const char* ext : {".csv", ".gpx", ".kml"}) fs::remove_all(Beside(ext), ec);
        AppTest::TearDown();
    }
};

TEST_F(PointMapsTest, ChoiceDecidesTheFilesBesideTheCsv) {
    struct Case {
        const char* name;
        bool alsoSaveMaps;
        bool gpxBlocked;  // a folder where the GPX file should go
        size_t messages;
    };
    const Case cases[] = {
        {"off: the CSV file alone", false, false, 1},
        {"on: GPX and KML beside it", true, false, 1},
        {"on, GPX cannot be saved", true, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        if (c.gpxBlocked) fs::create_directory(Beside(".gpx"));
        // Its version text answers both mode queries at once.
        sim::SimConfig config;
        config.deviceDir = dir_.Path();
        config.device.mode = sim::DeviceMode::Patch;
        config.device.versionText = "MDL4200 BOOT E3 PATCH V1.02";
        sim_ = std::make_unique<sim::SimServer>(config);
        sim_->Start();
        RecordingView view;
        Main main(view, dir_.Settings());
        ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
        GiveStandInPatch(main);
        main.pointCsvPath = Beside(".csv");
        main.SetAlsoSavePointMaps(c.alsoSaveMaps);
        main.buttonUpdata_Click();
        ASSERT_TRUE(main.WaitForJobEnd(30000));
        ASSERT_TRUE(view.Pump([&] { return view.JobsEnded() >= 1; }));

        const auto messages = view.Messages();
        ASSERT_EQ(messages.size(), c.messages);
        EXPECT_EQ(messages[0].text, "データの書込みが完了しました。");
        const JobResult result = view.Results().back();
        EXPECT_TRUE(result.Done());
        EXPECT_EQ(result.message, WriteDoneMessage());
        const auto points = ToExportPoints(result.points);
        if (c.gpxBlocked) {
            EXPECT_EQ(messages[1].text.rfind("GPX・KMLファイルを保存できませんでした。\n", 0), 0u);
            EXPECT_EQ(messages[1].icon, MessageIcon::Warning);
            EXPECT_TRUE(fs::is_directory(Beside(".gpx")));
        } else if (c.alsoSaveMaps) {
            EXPECT_EQ(Slurp(Beside(".gpx")),
                      mapexport::WriteMap(mapexport::MapFormat::Gpx, points));
            EXPECT_EQ(Slurp(Beside(".kml")),
                      mapexport::WriteMap(mapexport::MapFormat::Kml, points));
        } else {
            EXPECT_FALSE(fs::exists(Beside(".gpx")));
            EXPECT_FALSE(fs::exists(Beside(".kml")));
        }
        EXPECT_EQ(points.size(), 7u);  // the simulator's sample points
    }
}

}  // namespace
