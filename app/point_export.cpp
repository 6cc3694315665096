#include "app/point_export.h"

#include "platform/codepage.h"

namespace {
// One stored byte as the CSV row shows it: ASCII stays, a half-width kana becomes its
// character, and a NUL stays a NUL.
std::string ByteText(char byte) {
    return platform::ShiftJisToUtf8(std::string_view(&byte, 1));
}
}  // namespace

mapexport::ExportPoint ToExportPoint(const PointRecord& r) {
    mapexport::ExportPoint p;
    p.gcid = r.gcid;
    p.golfCourseName = platform::ShiftJisToUtf8(r.golfCourseName);
    p.cid = r.cid;
    p.courseName = platform::ShiftJisToUtf8(r.courseName);
    p.holeNo = r.holeNo;
    p.shotOrPutt = ByteText(r.shotOrPutt);
    p.additionalNo = ByteText(r.additionalNo);
    p.local = {r.year, r.month, r.day, r.hour, r.minute, r.second};
    p.utcOffset = r.utcOffset;
    p.latitude = r.latitudeRaw / kPointUnitsPerDegree;
    p.longitude = r.longitudeRaw / kPointUnitsPerDegree;
    return p;
}

std::vector<mapexport::ExportPoint> ToExportPoints(std::span<const PointRecord> records) {
    std::vector<mapexport::ExportPoint> points;
    points.reserve(records.size());
    for (const PointRecord& r : records) points.push_back(ToExportPoint(r));
    return points;
}
