#pragma once
// Saved points grouped the way a golfer looks at them: a round is one golf course and course on
// one date; within a round the points run in time order, and split by hole.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/export_point.h"

namespace mapexport {

struct TimedPoint {
    const ExportPoint* point = nullptr;
    std::optional<int64_t> utc;  // nothing when the stored date or time is not a real one
};

struct Hole {
    int holeNo = 0;
    std::vector<TimedPoint> points;  // in time order
};

struct Round {
    std::string golfCourseName;
    std::string courseName;
    int year = 0;
    int month = 0;
    int day = 0;
    std::vector<TimedPoint> points;  // in time order; points without a time last, as read

    // The holes played, by ascending number.
    std::vector<Hole> Holes() const;
};

// Rounds by their first point's time (rounds without any time last, as first met); points not
// on Earth are left out. The points must outlive the result.
std::vector<Round> GroupRounds(std::span<const ExportPoint> points);

// Kinds of point, from the "Shot (s) or Putt (p)" character.
enum class PointKind { Shot, Putt, Other };
PointKind KindOf(const ExportPoint& point);

// Texts shown for a point and a round, in UTF-8 fit for XML.
std::string PointName(const ExportPoint& point);         // "H1 s0"
std::string PointDescription(const ExportPoint& point);  // "Golf course / Course, hole 1"
std::string RoundName(const Round& round);               // "Golf course / Course 2015-04-01"
std::string HoleName(int holeNo);                        // "Hole 1"

// Degrees with six decimals, as the CSV file has them; independent of the C locale.
std::string DegreesText(double degrees);

}  // namespace mapexport
