#pragma once
// Saved points grouped the way a golfer looks at them: a round is one golf course and course on
// one date; within a round the points run in time order, and split by hole.
//
// The grouping keeps a few bytes per point, not the points: the writers load each point again
// from its source when they write it, so that a file of any size is converted in a bounded
// amount of memory.
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/export_point.h"

namespace mapexport {

// Where the points are: loaded by the number the source gave each one, as often as needed.
class PointSource {
public:
    virtual ~PointSource() = default;
    // The point `id`; valid until the next call.
    virtual const ExportPoint& Load(uint32_t id) = 0;
};

// Points in memory, numbered by their index.
class PointSpan : public PointSource {
public:
    explicit PointSpan(std::span<const ExportPoint> points) : points_(points) {}
    const ExportPoint& Load(uint32_t id) override { return points_[id]; }

private:
    std::span<const ExportPoint> points_;
};

// A point's place in a map.
struct PlacedPoint {
    // UTC seconds, kUntimed when the stored date or time is not a real one.
    static constexpr int64_t kUntimed = std::numeric_limits<int64_t>::max();
    int64_t utc = kUntimed;
    uint32_t id = 0;     // in the source; ids grow in reading order
    uint32_t round = 0;  // rank of its round: rounds by their first point's time
    int32_t holeNo = 0;
    bool Timed() const { return utc != kUntimed; }
};

class RoundPlan {
public:
    explicit RoundPlan(PointSource& source) : source_(source) {}
    // Points are added in reading order; points not on Earth are left out.
    void Add(const ExportPoint& point, uint32_t id);
    // Rounds in time order (rounds without any time last, as first met); within a round the
    // points in time order (points without a time last, as read) or by ascending hole first.
    enum class Order { Time, HoleThenTime };
    std::vector<PlacedPoint> Take(Order order) &&;

private:
    struct RoundEntry {
        uint64_t hash = 0;
        uint32_t firstId = 0;
        int64_t firstUtc = PlacedPoint::kUntimed;  // its earliest point's
    };
    uint32_t RoundOf(const ExportPoint& point);
    void Grow();

    PointSource& source_;
    std::vector<PlacedPoint> points_;
    std::vector<RoundEntry> rounds_;
    std::vector<uint32_t> table_;  // open addressing by hash: round number + 1, 0 for none
    // The round of the point added last, with its key: points of a round mostly follow each
    // other, and then need no look-up.
    std::optional<uint32_t> lastRound_;
    ExportPoint lastKey_;
};

// Kinds of point, from the "Shot (s) or Putt (p)" character.
enum class PointKind { Shot, Putt, Other };
PointKind KindOf(const ExportPoint& point);

// Texts shown for a point and a round, in UTF-8 fit for XML. A round's name comes from any of
// its points (they share names and date).
std::string PointName(const ExportPoint& point);         // "H1 s0"
std::string PointDescription(const ExportPoint& point);  // "Golf course / Course, hole 1"
std::string RoundName(const ExportPoint& point);         // "Golf course / Course 2015-04-01"
std::string HoleName(int holeNo);                        // "Hole 1"

// Degrees with six decimals, as the CSV file has them; independent of the C locale.
std::string DegreesText(double degrees);

}  // namespace mapexport
