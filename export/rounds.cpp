#include "export/rounds.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <tuple>

#include "export/utc_time.h"
#include "export/xml_text.h"

namespace mapexport {

namespace {

constexpr std::size_t kFirstTableSize = 1024;

bool SameRound(const ExportPoint& a, const ExportPoint& b) {
    return a.local.year == b.local.year && a.local.month == b.local.month &&
           a.local.day == b.local.day && a.golfCourseName == b.golfCourseName &&
           a.courseName == b.courseName;
}

// FNV-1a over the round's key; texts go with their length, so no two keys share their bytes.
uint64_t RoundHash(const ExportPoint& p) {
    uint64_t h = 14695981039346656037u;
    auto add = [&h](uint64_t value) {
        for (int i = 0; i < 8; ++i, value >>= 8) h = (h ^ (value & 0xFF)) * 1099511628211u;
    };
    auto addText = [&h, &add](const std::string& text) {
        add(text.size());
        for (unsigned char c : text) h = (h ^ c) * 1099511628211u;
    };
    addText(p.golfCourseName);
    addText(p.courseName);
    add(static_cast<uint64_t>(p.local.year) << 32 | static_cast<uint64_t>(p.local.month) << 16 |
        static_cast<uint64_t>(p.local.day & 0xFFFF));
    return h;
}

std::string JoinNames(const std::string& golfCourseName, const std::string& courseName) {
    const std::string golf = XmlText(golfCourseName);
    const std::string course = XmlText(courseName);
    if (golf.empty()) return course;
    if (course.empty()) return golf;
    return golf + " / " + course;
}

}  // namespace

void RoundPlan::Grow() {
    table_.assign(table_.empty() ? kFirstTableSize : table_.size() * 2, 0);
    const std::size_t mask = table_.size() - 1;
    for (uint32_t r = 0; r < rounds_.size(); ++r) {
        std::size_t at = rounds_[r].hash & mask;
        while (table_[at] != 0) at = (at + 1) & mask;
        table_[at] = r + 1;
    }
}

uint32_t RoundPlan::RoundOf(const ExportPoint& p) {
    if (lastRound_ && SameRound(p, lastKey_)) return *lastRound_;
    const uint64_t hash = RoundHash(p);
    if (table_.empty()) Grow();
    const std::size_t mask = table_.size() - 1;
    std::size_t at = hash & mask;
    std::optional<uint32_t> found;
    for (; table_[at] != 0; at = (at + 1) & mask) {
        const uint32_t r = table_[at] - 1;
        // Equal hashes are compared by the names themselves.
        if (rounds_[r].hash == hash && SameRound(p, source_.Load(rounds_[r].firstId))) {
            found = r;
            break;
        }
    }
    if (!found) {
        found = static_cast<uint32_t>(rounds_.size());
        rounds_.push_back({hash, 0, PlacedPoint::kUntimed});
        table_[at] = *found + 1;
        if (rounds_.size() * 2 > table_.size()) Grow();
    }
    lastRound_ = found;
    lastKey_.golfCourseName = p.golfCourseName;
    lastKey_.courseName = p.courseName;
    lastKey_.local = p.local;
    return *found;
}

void RoundPlan::Add(const ExportPoint& p, uint32_t id) {
    if (!OnEarth(p)) return;
    const std::size_t roundsBefore = rounds_.size();
    const uint32_t round = RoundOf(p);
    RoundEntry& entry = rounds_[round];
    if (rounds_.size() != roundsBefore) entry.firstId = id;
    const int64_t utc = UtcSeconds(p.local, p.utcOffset).value_or(PlacedPoint::kUntimed);
    entry.firstUtc = std::min(entry.firstUtc, utc);
    points_.push_back({utc, id, round, p.holeNo});
}

std::vector<PlacedPoint> RoundPlan::Take(Order order) && {
    // Rounds by their first point's time, ties (and untimed rounds) in the order first met.
    std::vector<uint32_t> byTime(rounds_.size());
    for (uint32_t r = 0; r < byTime.size(); ++r) byTime[r] = r;
    std::sort(byTime.begin(), byTime.end(), [this](uint32_t a, uint32_t b) {
        return std::tie(rounds_[a].firstUtc, a) < std::tie(rounds_[b].firstUtc, b);
    });
    std::vector<uint32_t> rank(rounds_.size());
    for (uint32_t i = 0; i < byTime.size(); ++i) rank[byTime[i]] = i;
    for (PlacedPoint& p : points_) p.round = rank[p.round];
    // Ids grow in reading order, so they keep points of equal times as read.
    const bool byHole = order == Order::HoleThenTime;
    std::sort(points_.begin(), points_.end(), [byHole](const PlacedPoint& a, const PlacedPoint& b) {
        const int32_t holeA = byHole ? a.holeNo : 0;
        const int32_t holeB = byHole ? b.holeNo : 0;
        return std::tie(a.round, holeA, a.utc, a.id) < std::tie(b.round, holeB, b.utc, b.id);
    });
    return std::move(points_);
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

std::string RoundName(const ExportPoint& p) {
    char date[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", p.local.year, p.local.month, p.local.day);
    const std::string names = JoinNames(p.golfCourseName, p.courseName);
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
