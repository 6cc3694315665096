#pragma once
// Points and scratch files for the export tests.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/point_record.h"
#include "export/export_point.h"

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

// A fresh folder, removed with the object.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "caddora-export-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes `bytes` to NAME in the folder; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::string path_;
};

}  // namespace export_test
