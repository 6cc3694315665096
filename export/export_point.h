#pragma once
// One saved point as the GPX and KML writers take it: texts already in UTF-8, coordinates in
// degrees, the local date and time as the navigator stored them with the offset that turns
// them into UTC. Filled from the point import's records or from a CSV file it wrote.
#include <cmath>
#include <cstdint>
#include <string>

namespace mapexport {

struct LocalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool operator==(const LocalDateTime&) const = default;
};

struct ExportPoint {
    int32_t gcid = 0;
    std::string golfCourseName;  // UTF-8
    int32_t cid = 0;
    std::string courseName;  // UTF-8
    int holeNo = 0;
    std::string shotOrPutt;    // one character: "s" shot, "p" putt (UTF-8)
    std::string additionalNo;  // one character, may be a NUL (UTF-8)
    LocalDateTime local;
    int utcOffset = 0;  // minutes east of UTC
    double latitude = 0;
    double longitude = 0;
    bool operator==(const ExportPoint&) const = default;
};

// A position GPX and KML can hold: latitude within ±90, longitude within ±180 degrees. Stored
// coordinates of a damaged record can reach ±3579 degrees; the writers leave such points out.
inline bool OnEarth(const ExportPoint& p) {
    return std::fabs(p.latitude) <= 90.0 && std::fabs(p.longitude) <= 180.0;
}

}  // namespace mapexport
