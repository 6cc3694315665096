#pragma once
// Points and scratch files for the export tests.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/point_record.h"
#include "export/export_point.h"
#include "support/scratch_dir.h"

namespace export_test {

// A point at 2015-04-01 09:05:07 local time; the fields a test cares about are set after.
inline PointRecord Record(int16_t utcOffset, uint8_t holeNo = 1) {
    PointRecord r;
    r.gcid = 10231;
    r.cid = 1;
    r.holeNo = holeNo;
    r.latitudeRaw = 21000000;   // 35 degrees
    r.longitudeRaw = 83400000;  // 139 degrees
    r.year = 2015, r.month = 4, r.day = 1, r.hour = 9, r.minute = 5, r.second = 7;
    r.golfCourseName = "Fuji";
    r.courseName = "East";
    r.shotOrPutt = 's';
    r.additionalNo = '0';
    r.utcOffset = utcOffset;
    return r;
}

inline mapexport::ExportPoint Point(int hole, mapexport::LocalDateTime local, int utcOffset = 540,
                                    const std::string& kind = "s") {
    mapexport::ExportPoint p;
    p.golfCourseName = "Fuji";
    p.courseName = "East";
    p.holeNo = hole;
    p.shotOrPutt = kind;
    p.additionalNo = "0";
    p.local = local;
    p.utcOffset = utcOffset;
    p.latitude = 35.0 + hole / 1000.0;
    p.longitude = 139.0 + local.minute / 1000.0;
    return p;
}

using ScratchDir = testsupport::ScratchDir;

}  // namespace export_test
