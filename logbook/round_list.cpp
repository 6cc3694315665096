#include "logbook/round_list.h"

#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "export/rounds.h"

namespace logbook {

namespace {

std::string DateText(const mapexport::LocalDateTime& local) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.year, local.month, local.day);
    return text;
}

RoundSummary Summarise(std::vector<StoredPoint> points) {
    RoundSummary r;
    const mapexport::ExportPoint& first = points.front().point;
    r.id = points.front().id;
    r.gcid = first.gcid;
    r.golfCourseName = first.golfCourseName;
    r.date = DateText(first.local);
    r.firstUtc = *points.front().utc;
    std::vector<std::pair<int32_t, int>> holes;
    for (const StoredPoint& s : points) {
        const mapexport::ExportPoint& p = s.point;
        if (std::find(r.courses.begin(), r.courses.end(), p.courseName) == r.courses.end()) {
            r.courses.push_back(p.courseName);
        }
        const std::pair<int32_t, int> hole{p.cid, p.holeNo};
        if (std::find(holes.begin(), holes.end(), hole) == holes.end()) holes.push_back(hole);
        switch (mapexport::KindOf(p)) {
            case mapexport::PointKind::Shot:
                ++r.shots;
                break;
            case mapexport::PointKind::Putt:
                ++r.putts;
                break;
            case mapexport::PointKind::Other:
                break;
        }
    }
    r.holes = static_cast<int>(holes.size());
    r.points = std::move(points);
    return r;
}

}  // namespace

std::vector<RoundSummary> GroupRounds(const std::vector<StoredPoint>& points) {
    std::vector<RoundSummary> rounds;
    std::vector<StoredPoint> run;
    for (const StoredPoint& s : points) {
        if (!s.utc || !mapexport::OnEarth(s.point)) continue;
        if (!run.empty() && (run.back().point.gcid != s.point.gcid ||
                             *s.utc - *run.back().utc > kRoundGapSeconds)) {
            rounds.push_back(Summarise(std::move(run)));
            run.clear();
        }
        run.push_back(s);
    }
    if (!run.empty()) rounds.push_back(Summarise(std::move(run)));
    std::stable_sort(rounds.begin(), rounds.end(),
                     [](const RoundSummary& a, const RoundSummary& b) {
                         return a.firstUtc != b.firstUtc ? a.firstUtc > b.firstUtc : a.id > b.id;
                     });
    return rounds;
}

std::vector<PlayedHole> Scorecard(const RoundSummary& round) {
    std::vector<PlayedHole> holes;
    std::map<std::pair<int32_t, int>, std::size_t> index;
    for (const StoredPoint& s : round.points) {
        const std::pair<int32_t, int> key{s.point.cid, s.point.holeNo};
        auto [at, isNew] = index.try_emplace(key, holes.size());
        if (isNew) {
            PlayedHole h;
            h.cid = s.point.cid;
            h.courseName = s.point.courseName;
            h.holeNo = s.point.holeNo;
            holes.push_back(std::move(h));
        }
        PlayedHole& hole = holes[at->second];
        const mapexport::PointKind kind = mapexport::KindOf(s.point);
        if (kind == mapexport::PointKind::Shot) ++hole.shots;
        if (kind == mapexport::PointKind::Putt) ++hole.putts;
        if (!hole.points.empty()) {
            const mapexport::ExportPoint& prev = hole.points.back().stored.point;
            hole.points.back().toNextMetres =
                GeodesicMetres(prev.latitude, prev.longitude, s.point.latitude, s.point.longitude);
        }
        hole.points.push_back({s, std::nullopt});
    }
    return holes;
}

double GeodesicMetres(double lat1, double lon1, double lat2, double lon2) {
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, metres);
    return metres;
}

}  // namespace logbook
