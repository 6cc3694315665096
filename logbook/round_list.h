#pragma once
// Rounds from the logbook's points: a run of points at one golf course, in UTC order, with no
// gap over six hours. Holes are (course, hole number) pairs, so two nines that both start at
// hole 1 stay apart, and a round that passes midnight stays one round.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logbook/logbook.h"

namespace logbook {

inline constexpr int64_t kRoundGapSeconds = 6 * 3600;
inline constexpr double kMetresPerYard = 0.9144;

struct HolePoint {
    StoredPoint stored;
    // Geodesic distance on WGS-84 to the next point of the same hole, if there is one.
    std::optional<double> toNextMetres;
};

struct PlayedHole {
    int32_t cid = 0;
    std::string courseName;
    int holeNo = 0;
    std::vector<HolePoint> points;  // in time order
    int shots = 0;
    int putts = 0;
};

struct RoundSummary {
    int64_t id = 0;  // the row id of its first point: stays while the round keeps that point
    int32_t gcid = 0;
    std::string golfCourseName;
    std::string date;                  // "YYYY-MM-DD", the local date of its first point
    std::vector<std::string> courses;  // in the order played
    int holes = 0;
    int shots = 0;
    int putts = 0;
    int64_t firstUtc = 0;
    std::vector<StoredPoint> points;  // in time order
};

// `points` as TimedPoints() gives them (by golf course, then time); points off the Earth are
// left out. Newest round first.
std::vector<RoundSummary> GroupRounds(const std::vector<StoredPoint>& points);

// The round's holes in the order first played, each with its points' distances.
std::vector<PlayedHole> Scorecard(const RoundSummary& round);

// Geodesic distance in metres between two positions (degrees) on the WGS-84 ellipsoid.
double GeodesicMetres(double lat1, double lon1, double lat2, double lon2);

}  // namespace logbook
