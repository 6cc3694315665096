#include "export/point_csv_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace mapexport {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader =
    "\"GCID\",\"Golf Course name\",\"CID\",\"Course name\",\"Hole No\",\"Date\",\"time\","
    "\"Shot (s) or Putt (p)\",\"Additional No\",\"Longitude\",\"Latitude\"";
constexpr std::string_view kSeparator = "\",\"";
// Offset written without a suffix.
constexpr int kHomeUtcOffset = 540;

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<int> IntIn(std::string_view text, int64_t min, int64_t max) {
    const auto v = Number<int64_t>(text);
    if (!v || *v < min || *v > max) return std::nullopt;
    return static_cast<int>(*v);
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Splits "a<sep>b<sep>c" into exactly `count` parts.
std::optional<std::vector<std::string_view>> Split(std::string_view text, char sep,
                                                   std::size_t count) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    if (parts.size() != count) return std::nullopt;
    return parts;
}

bool CutSuffix(std::string_view& text, std::string_view suffix) {
    if (!text.ends_with(suffix)) return false;
    text.remove_suffix(suffix.size());
    return true;
}

bool CutPrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Takes the last UTF-8 character off `text` (a single byte when the tail is not one whole
// sequence).
std::optional<std::string> CutLastCharacter(std::string_view& text) {
    if (text.empty()) return std::nullopt;
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    const auto lead = static_cast<uint8_t>(text[start]);
    const std::size_t length = lead < 0x80    ? 1
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC0 ? 2
                                              : 0;
    if (length != text.size() - start) start = text.size() - 1;
    std::string character(text.substr(start));
    text.remove_suffix(text.size() - start);
    return character;
}

// Takes `"<text>` off the end of `text` up to the separator before it.
std::optional<std::string_view> CutLastField(std::string_view& text) {
    const auto at = text.rfind(kSeparator);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view field = text.substr(at + kSeparator.size());
    text = text.substr(0, at);
    return field;
}

std::optional<double> Coordinate(std::string_view text, double limit) {
    const auto v = Number<double>(text);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > limit) return std::nullopt;
    return v;
}

}  // namespace

std::optional<TimeColumn> ParseTimeColumn(std::string_view text) {
    std::string_view clock = text;
    std::optional<int> offset = kHomeUtcOffset;
    if (const auto at = text.find(" UTC"); at != std::string_view::npos) {
        clock = text.substr(0, at);
        std::string_view suffix = text.substr(at + 4);
        // "+h:mm" east of UTC; "-h:mm" west; "00:mm" for 0 and offsets of less than an hour
        // west, which print their zero hours unsigned.
        const bool east = CutPrefix(suffix, "+");
        const bool west = !east && CutPrefix(suffix, "-");
        const auto parts = Split(suffix, ':', 2);
        if (!parts || !AllDigits((*parts)[0]) || (*parts)[1].size() != 2) return std::nullopt;
        if (!east && !west && (*parts)[0] != "00") return std::nullopt;
        const auto hours = IntIn((*parts)[0], 0, 546);
        const auto minutes = IntIn((*parts)[1], 0, 59);
        if (!hours || !minutes) return std::nullopt;
        offset = (east ? 1 : -1) * (*hours * 60 + *minutes);
        if (*offset < std::numeric_limits<int16_t>::min() ||
            *offset > std::numeric_limits<int16_t>::max()) {
            return std::nullopt;
        }
    }
    const auto parts = Split(clock, ':', 3);
    if (!parts) return std::nullopt;
    const auto h = IntIn((*parts)[0], 0, 255);
    const auto m = IntIn((*parts)[1], 0, 255);
    const auto s = IntIn((*parts)[2], 0, 255);
    if (!h || !m || !s) return std::nullopt;
    return TimeColumn{*h, *m, *s, *offset};
}

std::optional<ExportPoint> ParsePointCsvRow(std::string_view row) {
    ExportPoint p;
    // Coordinates last, unquoted: longitude, latitude. Stored values reach ±3579 degrees.
    const auto latComma = row.rfind(',');
    if (latComma == std::string_view::npos) return std::nullopt;
    const auto lonComma = row.substr(0, latComma).rfind(',');
    if (lonComma == std::string_view::npos) return std::nullopt;
    const auto latitude = Coordinate(row.substr(latComma + 1), 4000);
    const auto longitude = Coordinate(row.substr(lonComma + 1, latComma - lonComma - 1), 4000);
    if (!latitude || !longitude) return std::nullopt;
    p.latitude = *latitude;
    p.longitude = *longitude;

    std::string_view rest = row.substr(0, lonComma);
    if (!CutSuffix(rest, "\"")) return std::nullopt;
    auto additional = CutLastCharacter(rest);
    if (!additional || !CutSuffix(rest, kSeparator)) return std::nullopt;
    auto kind = CutLastCharacter(rest);
    if (!kind || !CutSuffix(rest, kSeparator)) return std::nullopt;
    p.additionalNo = std::move(*additional);
    p.shotOrPutt = std::move(*kind);

    const auto time = CutLastField(rest);
    const auto date = CutLastField(rest);
    const auto hole = CutLastField(rest);
    if (!time || !date || !hole) return std::nullopt;
    const auto clock = ParseTimeColumn(*time);
    const auto dateParts = Split(*date, '/', 3);
    const auto holeNo = IntIn(*hole, 0, 255);
    if (!clock || !dateParts || !holeNo) return std::nullopt;
    const auto year = IntIn((*dateParts)[0], 0, 65535);
    const auto month = IntIn((*dateParts)[1], 0, 255);
    const auto day = IntIn((*dateParts)[2], 0, 255);
    if (!year || !month || !day) return std::nullopt;
    p.local = {*year, *month, *day, clock->hour, clock->minute, clock->second};
    p.utcOffset = clock->utcOffset;
    p.holeNo = *holeNo;

    // Front: "gcid","golf","cid","course
    if (!CutPrefix(rest, "\"")) return std::nullopt;
    const auto gcidEnd = rest.find(kSeparator);
    if (gcidEnd == std::string_view::npos) return std::nullopt;
    const auto gcid = Number<int32_t>(rest.substr(0, gcidEnd));
    if (!gcid) return std::nullopt;
    p.gcid = *gcid;
    rest.remove_prefix(gcidEnd + kSeparator.size());
    for (auto at = rest.find(kSeparator); at != std::string_view::npos;
         at = rest.find(kSeparator, at + 1)) {
        const std::string_view after = rest.substr(at + kSeparator.size());
        const auto cidEnd = after.find(kSeparator);
        if (cidEnd == std::string_view::npos) break;
        if (!AllDigits(after.substr(0, cidEnd))) continue;
        const auto cid = IntIn(after.substr(0, cidEnd), 0, 65535);
        if (!cid) continue;
        p.golfCourseName = std::string(rest.substr(0, at));
        p.cid = *cid;
        p.courseName = std::string(after.substr(cidEnd + kSeparator.size()));
        return p;
    }
    return std::nullopt;
}

PointCsvLines::Line PointCsvLines::Take(std::string_view line, ExportPoint& point) {
    ++lineNo_;
    if (lineNo_ == 1) CutPrefix(line, kBom);
    CutSuffix(line, "\r");
    if (line.empty()) return Line::Skip;
    if (!headerSeen_) {
        if (line != kHeader) {
            problem_ = "not the header of a point CSV file";
            return Line::Bad;
        }
        headerSeen_ = true;
        return Line::Skip;
    }
    auto parsed = ParsePointCsvRow(line);
    if (!parsed) {
        problem_ = "not a point row";
        return Line::Bad;
    }
    point = std::move(*parsed);
    return Line::Point;
}

CsvReadResult ReadPointCsv(std::string_view bytes) {
    CsvReadResult result;
    PointCsvLines lines;
    ExportPoint point;
    while (!bytes.empty()) {
        const auto end = bytes.find('\n');
        const std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        switch (lines.Take(line, point)) {
            case PointCsvLines::Line::Skip:
                break;
            case PointCsvLines::Line::Point:
                result.points.push_back(std::move(point));
                break;
            case PointCsvLines::Line::Bad:
                result.badLine = lines.LineNo();
                result.problem = lines.Problem();
                return result;
        }
    }
    return result;
}

}  // namespace mapexport
