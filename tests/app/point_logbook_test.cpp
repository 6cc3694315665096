// The window's point import and the logbook: the points go in after the CSV file is in place,
// the remembered choice turns that off, a logbook that cannot be written is a line in the done
// message, and the point tab's link opens a report of the rounds just imported.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/point_export.h"
#include "app/point_logbook.h"
#include "app_fixture.h"
#include "logbook/csv_import.h"
#include "logbook/logbook.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

using testsupport::Slurp;

constexpr const char* kOtherCourse = "別のゴルフ場";

TEST_F(AppTest, PointImportFillsTheLogbookAsChosen) {
    struct Case {
        const char* name;
        bool addToLogbook;
        bool logbookBlocked;  // a folder where the logbook file should go
    };
    const Case cases[] = {
        {"on: the points go in, the link opens their rounds", true, false},
        {"off: nothing is added", false, false},
        {"on, the logbook cannot be opened: a line more, the CSV complete", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchDir scratch("logbook-window");
        const std::string csv = scratch / "points.csv";
        const std::string book = scratch / "日本語/logbook.sqlite3";
        fs::create_directories(fs::path(book).parent_path());
        if (c.logbookBlocked) {
            fs::create_directory(book);
        } else {
            // An earlier round at another golf course, which the report leaves out.
            mapexport::ExportPoint other;
            other.gcid = 999;
            other.golfCourseName = kOtherCourse;
            other.courseName = "OUT";
            other.holeNo = 1;
            other.shotOrPutt = "s";
            other.local = {2014, 5, 1, 9, 0, 0};
            other.utcOffset = 540;
            other.latitude = 35.0;
            other.longitude = 139.0;
            logbook::Logbook(book).Add(std::span(&other, 1), "earlier");
        }
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
        main.pointCsvPath = csv;
        main.pointLogbook = LogbookLocation{book, false};
        main.addPointsToLogbook = c.addToLogbook;
        main.buttonUpdata_Click();
        ASSERT_TRUE(main.WaitForJobEnd(30000));
        ASSERT_TRUE(view.Pump([&] { return view.JobsEnded() >= 1; }));

        const JobResult result = view.Results().back();
        ASSERT_TRUE(result.Done());
        ASSERT_EQ(result.points.size(), 7u);  // the simulator's sample points
        // The CSV file is whole whatever became of the logbook.
        const std::string rows = Slurp(csv);
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 8);
        const auto messages = view.Messages();
        ASSERT_EQ(messages.size(), 1u);
        const std::string problemLine = std::string("\n") + std::string(texts::kLogbookNotWritten);
        EXPECT_EQ(messages[0].text.find(problemLine) != std::string::npos, c.logbookBlocked)
            << messages[0].text;
        EXPECT_EQ(messages[0].text.rfind("データの書込みが完了しました。", 0), 0u);
        const auto log = view.Log();
        if (c.logbookBlocked) {
            EXPECT_TRUE(fs::is_directory(book));
            EXPECT_TRUE(result.reportPath.empty());
            EXPECT_NE(std::find(log.begin(), log.end(), "report-link:off"), log.end());
            continue;
        }
        logbook::Logbook logbook(book);
        if (!c.addToLogbook) {
            EXPECT_EQ(logbook.PointCount(), 1);
            EXPECT_TRUE(result.reportPath.empty());
            main.linkLabelReport_LinkClicked();
            EXPECT_TRUE(view.Urls().empty());
            continue;
        }
        // The points of the CSV file in place are those added: reading it back adds nothing.
        EXPECT_EQ(logbook.PointCount(), 8);
        EXPECT_EQ(result.logbookAdded, 7);
        const logbook::CsvAddResult again = logbook::AddCsvFile(logbook, csv);
        EXPECT_TRUE(again.ok()) << again.error;
        EXPECT_EQ(again.counts.added, 0);
        EXPECT_EQ(again.counts.alreadyThere, 7);

        EXPECT_NE(std::find(log.begin(), log.end(), "report-link:on"), log.end());
        main.linkLabelReport_LinkClicked();
        ASSERT_EQ(view.Urls().size(), 1u);
        EXPECT_EQ(view.Urls()[0].rfind("file:///", 0), 0u) << view.Urls()[0];
        const std::string html = Slurp(main.PointReportPath());
        EXPECT_NE(html.find(ToExportPoint(result.points[0]).golfCourseName), std::string::npos);
        EXPECT_EQ(html.find(kOtherCourse), std::string::npos);
    }
}

}  // namespace
