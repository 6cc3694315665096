#include "export/rounds.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>
#include <tuple>

#include "export/utc_time.h"
#include "export/xml_text.h"

namespace mapexport {

namespace {

// Untimed points sort after every timed one and keep their order among themselves.
int64_t SortKey(const TimedPoint& p) {
    return p.utc.value_or(std::numeric_limits<int64_t>::max());
}

void SortByTime(std::vector<TimedPoint>& points) {
    std::stable_sort(points.begin(), points.end(), [](const TimedPoint& a, const TimedPoint& b) {
        return SortKey(a) < SortKey(b);
    });
}

std::string JoinNames(const std::string& golfCourseName, const std::string& courseName) {
    const std::string golf = XmlText(golfCourseName);
    const std::string course = XmlText(courseName);
    if (golf.empty()) return course;
    if (course.empty()) return golf;
    return golf + " / " + course;
}

}  // namespace

std::vector<Hole> Round::Holes() const {
    std::map<int, Hole> byNumber;
    for (const TimedPoint& p : points) {
        Hole& hole = byNumber[p.point->holeNo];
        hole.holeNo = p.point->holeNo;
        hole.points.push_back(p);  // already in time order
    }
    std::vector<Hole> holes;
    for (auto& [number, hole] : byNumber) holes.push_back(std::move(hole));
    return holes;
}

std::vector<Round> GroupRounds(std::span<const ExportPoint> points) {
    std::vector<Round> rounds;
    using Key = std::tuple<std::string, std::string, int, int, int>;
    std::map<Key, std::size_t> index;
    for (const ExportPoint& p : points) {
        if (!OnEarth(p)) continue;
        const Key key{p.golfCourseName, p.courseName, p.local.year, p.local.month, p.local.day};
        auto [it, added] = index.try_emplace(key, rounds.size());
        if (added) {
            rounds.push_back(Round{
                p.golfCourseName, p.courseName, p.local.year, p.local.month, p.local.day, {}});
        }
        rounds[it->second].points.push_back({&p, UtcSeconds(p.local, p.utcOffset)});
    }
    for (Round& r : rounds) SortByTime(r.points);
    std::stable_sort(rounds.begin(), rounds.end(), [](const Round& a, const Round& b) {
        return SortKey(a.points.front()) < SortKey(b.points.front());
    });
    return rounds;
}

PointKind KindOf(const ExportPoint& point) {
    if (point.shotOrPutt == "s") return PointKind::Shot;
    if (point.shotOrPutt == "p") return PointKind::Putt;
    return PointKind::Other;
}

std::string PointName(const ExportPoint& p) {
    // Appended, not `"H" + std::string`: GCC 12 at -O3 misreads that as an overlapping copy.
    std::string name = "H";
    name.append(std::to_string(p.holeNo)).append(" ");
    return name.append(XmlText(p.shotOrPutt)).append(XmlText(p.additionalNo));
}

std::string PointDescription(const ExportPoint& p) {
    const std::string names = JoinNames(p.golfCourseName, p.courseName);
    const std::string hole = "hole " + std::to_string(p.holeNo);
    return names.empty() ? hole : names + ", " + hole;
}

std::string RoundName(const Round& r) {
    char date[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.year, r.month, r.day);
    const std::string names = JoinNames(r.golfCourseName, r.courseName);
    return names.empty() ? std::string(date) : names + " " + date;
}

std::string HoleName(int holeNo) {
    return "Hole " + std::to_string(holeNo);
}

std::string DegreesText(double degrees) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, 6);
    return std::string(text, result.ptr);
}

}  // namespace mapexport
