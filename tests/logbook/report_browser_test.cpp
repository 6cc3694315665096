// The HTML report in a real browser: it loads without console errors or network requests and
// draws each hole once; the screenshot stays in the build folder for review.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/point_export.h"
#include "app/point_record.h"
#include "logbook/report_html.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// Two nines of a round in Japan: hole 1 of each course, a tee shot, an approach and putts.
std::vector<PointRecord> RoundRecords() {
    std::vector<PointRecord> records;
    const auto add = [&](uint16_t cid, const char* course, int minute, int dLat, int dLon,
                         char kind) {
        PointRecord r;
        r.gcid = 10231;
        r.cid = cid;
        r.courseName = course;
        r.golfCourseName = "Fuji <&> CC";
        r.holeNo = 1;
        r.latitudeRaw = 21216723 + dLat;
        r.longitudeRaw = 83238090 + dLon;
        r.year = 2015, r.month = 4, r.day = 1, r.hour = cid == 1 ? 9 : 11;
        r.minute = static_cast<uint8_t>(minute), r.second = 0;
        r.shotOrPutt = kind;
        r.additionalNo = '0';
        r.utcOffset = 540;
        records.push_back(r);
    };
    add(1, "East", 0, 0, 0, 's');
    add(1, "East", 4, 1300, 2100, 's');
    add(1, "East", 8, 1700, 2500, 'p');
    add(1, "East", 9, 1705, 2508, 'p');
    add(2, "West", 0, -3000, 100, 's');
    add(2, "West", 5, -4500, -1200, 's');
    add(2, "West", 9, -4600, -1300, 's');
    add(2, "West", 12, -4620, -1310, 'p');
    return records;
}

std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        while (const size_t n = fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
        pclose(pipe);
    }
    return output;
}

TEST(ReportBrowser, LoadsWithoutErrorsOrRequestsAndDrawsEachHole) {
    if (Shell("command -v chromium").empty()) GTEST_SKIP() << "chromium is not installed";
    const auto points = ToExportPoints(RoundRecords());
    std::vector<logbook::StoredPoint> stored;
    for (std::size_t i = 0; i < points.size(); ++i) {
        stored.push_back(
            {static_cast<int64_t>(i + 1), points[i], 1427846400 + static_cast<int64_t>(i) * 240});
    }
    const auto rounds = logbook::GroupRounds(stored);
    ASSERT_EQ(rounds.size(), 1u);
    const fs::path out = fs::path(CADDORA_TEST_BIN_DIR).parent_path() / "tests" / "report";
    fs::create_directories(out);
    const fs::path html = out / "report.html";
    std::ofstream(html, std::ios::binary) << logbook::ReportHtml(rounds);

    testsupport::ScratchDir profile("chromium");
    const std::string common =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --enable-logging=stderr --v=0 --log-net-log=" +
        (profile / "net.json") + " --user-data-dir=" + profile / "p" + " --window-size=1000,1400 ";
    const std::string dom =
        Shell(common + "--dump-dom file://" + html.string() + " 2>" + (profile / "dom.log"));
    int holes = 0;
    for (auto at = dom.find("<svg class=\"hole\""); at != std::string::npos;
         at = dom.find("<svg class=\"hole\"", at + 1)) {
        ++holes;
    }
    EXPECT_EQ(holes, 2);
    const std::string png = (out / "report.png").string();
    fs::remove(png);
    Shell(common + "--screenshot=" + png + " file://" + html.string() + " 2>" +
          (profile / "shot.log"));
    EXPECT_GT(fs::file_size(png), 10000u);

    std::ifstream log(profile / "dom.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    EXPECT_EQ(text.find("CONSOLE"), std::string::npos) << text;
    std::ifstream net(profile / "net.json");
    const std::string netText((std::istreambuf_iterator<char>(net)), {});
    // The browser's own background requests have no origin; those of a file:// page have the
    // opaque origin "null".
    EXPECT_NE(netText.find("\"initiator\""), std::string::npos) << "no net log";
    EXPECT_EQ(netText.find("\"initiator\":\"null\""), std::string::npos);
}

}  // namespace
