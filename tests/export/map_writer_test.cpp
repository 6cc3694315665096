// The shape of the GPX and KML files: rounds, their order and the points' time order, holes
// and their lines, points without a real time or position, and names no XML reader would take.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "export/gpx_writer.h"
#include "export/kml_writer.h"
#include "export_test_support.h"
#include "support/map_readers.h"

namespace {

using namespace export_test;
using mapexport::ExportPoint;

pugi::xml_document Parse(const std::string& xml) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml.c_str())) << xml;
    return doc;
}

// Texts of the nodes `xpath` selects, joined by '|'.
std::string Texts(const pugi::xml_document& doc, const char* xpath) {
    std::string out;
    for (const pugi::xpath_node& n : doc.select_nodes(xpath)) {
        if (!out.empty()) out += '|';
        out += n.node() ? n.node().text().get() : n.attribute().value();
    }
    return out;
}

// Two rounds on one course (two dates) and one on another, given out of time order; hole 2
// of the first round has a single point.
std::vector<ExportPoint> ThreeRounds() {
    std::vector<ExportPoint> points = {
        Point(1, {2016, 5, 31, 10, 0, 0}),  // second round, on the last day of a month
        Point(1, {2015, 4, 1, 9, 30, 0}, 540, "p"),
        Point(2, {2015, 4, 1, 9, 50, 0}),
        Point(1, {2015, 4, 1, 9, 5, 7}),        // first point of the first round
        Point(3, {2015, 4, 1, 8, 0, 0}, -300),  // same day, but the West: after 9:50 in Japan
    };
    points.push_back(Point(4, {2015, 4, 1, 23, 0, 0}));
    points.back().courseName = "West";  // third round, a day later in UTC than the first
    points.back().local.day = 2;
    return points;
}

TEST(MapWriters, GpxTracksAreRoundsInTimeOrder) {
    const auto doc = Parse(mapexport::WriteGpx(ThreeRounds()));
    EXPECT_EQ(Texts(doc, "/gpx/trk/name"),
              "Fuji / East 2015-04-01|Fuji / West 2015-04-02|Fuji / East 2016-05-31");
    EXPECT_EQ(Texts(doc, "/gpx/trk[1]/trkseg/trkpt/time"),
              "2015-04-01T00:05:07Z|2015-04-01T00:30:00Z|2015-04-01T00:50:00Z|"
              "2015-04-01T13:00:00Z");
    EXPECT_EQ(Texts(doc, "/gpx/wpt/name"), "H1 s0|H1 p0|H2 s0|H3 s0|H4 s0|H1 s0");
    EXPECT_EQ(Texts(doc, "/gpx/trk[3]/trkseg/trkpt/time"), "2016-05-31T01:00:00Z");
    EXPECT_EQ(Texts(doc, "/gpx/wpt/type"), "shot|putt|shot|shot|shot|shot");
    EXPECT_EQ(Texts(doc, "/gpx/wpt[1]/desc"), "Fuji / East, hole 1");
}

TEST(MapWriters, KmlFoldersPerRoundAndHoleWithALinePerHole) {
    const auto doc = Parse(mapexport::WriteKml(ThreeRounds()));
    const char* round = "/kml/Document/Folder[1]";
    EXPECT_EQ(Texts(doc, "/kml/Document/Folder/name"),
              "Fuji / East 2015-04-01|Fuji / West 2015-04-02|Fuji / East 2016-05-31");
    EXPECT_EQ(Texts(doc, (std::string(round) + "/Folder/name").c_str()), "Hole 1|Hole 2|Hole 3");
    // Hole 1: two points, a line from the earlier to the later; holes 2 and 3: no line.
    EXPECT_EQ(Texts(doc, (std::string(round) + "/Folder[1]/Placemark/styleUrl").c_str()),
              "#shot|#putt|#hole");
    EXPECT_EQ(Texts(doc, (std::string(round) + "//LineString/coordinates").c_str()),
              "139.005000,35.001000 139.030000,35.001000");
    EXPECT_EQ(Texts(doc, (std::string(round) + "/Folder[3]/Placemark/TimeStamp/when").c_str()),
              "2015-04-01T13:00:00Z");
}

TEST(MapWriters, PointsWithoutRealTimeOrPositionAndUnreadableNames) {
    std::vector<ExportPoint> points = {
        Point(1, {2015, 13, 1, 9, 0, 0}),  // month 13
        Point(2, {2015, 2, 29, 9, 0, 0}),  // no leap day in 2015
        Point(3, {2015, 4, 1, 24, 0, 0}), Point(4, {2015, 4, 1, 9, 0, 0}),
        Point(5, {2015, 4, 1, 9, 0, 0}),  Point(6, {2015, 4, 1, 9, 0, 0}),
    };
    points[3].latitude = 91.0;  // a damaged record: not on Earth
    points[4].longitude = -3579.0;
    points[5].golfCourseName = std::string("A\x01<&>\0B\xFF\xC3", 9);
    points[5].additionalNo = std::string(1, '\0');
    ScratchDir dir;
    const std::string gpx = dir.Write("p.gpx", mapexport::WriteGpx(points));
    const std::string kml = dir.Write("p.kml", mapexport::WriteKml(points));
    for (const std::string& path : {gpx, kml}) {
        std::string lint;
        EXPECT_TRUE(map_readers::XmllintAccepts(path, &lint)) << lint;
    }
    const auto doc = Parse(mapexport::WriteGpx(points));
    EXPECT_EQ(Texts(doc, "/gpx/wpt/name"), "H6 s|H1 s0|H2 s0|H3 s0");  // timed first
    EXPECT_EQ(Texts(doc, "/gpx/wpt/time"), "2015-04-01T00:00:00Z");
    EXPECT_EQ(Texts(doc, "/gpx/wpt[1]/desc"), "A<&>B\xEF\xBF\xBD\xEF\xBF\xBD / East, hole 6");
}

}  // namespace
