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

namespace {

// A one-line row written before names were escaped, taken apart from both ends.
std::optional<ExportPoint> ParseUnescapedRow(std::string_view row) {
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

// A text that is one character: a single byte (a NUL too), or one UTF-8 sequence.
bool OneCharacter(std::string_view text) {
    std::string_view rest = text;
    return CutLastCharacter(rest) && rest.empty();
}

bool ParseFields(const std::vector<std::string>& f, ExportPoint& p) {
    if (f.size() != 11) return false;
    const auto gcid = Number<int32_t>(f[0]);
    const auto cid = AllDigits(f[2]) ? IntIn(f[2], 0, 65535) : std::nullopt;
    const auto hole = IntIn(f[4], 0, 255);
    const auto date = Split(f[5], '/', 3);
    const auto clock = ParseTimeColumn(f[6]);
    const auto longitude = Coordinate(f[9], 4000);
    const auto latitude = Coordinate(f[10], 4000);
    if (!gcid || !cid || !hole || !date || !clock || !longitude || !latitude) return false;
    if (!OneCharacter(f[7]) || !OneCharacter(f[8])) return false;
    const auto year = IntIn((*date)[0], 0, 65535);
    const auto month = IntIn((*date)[1], 0, 255);
    const auto day = IntIn((*date)[2], 0, 255);
    if (!year || !month || !day) return false;
    p.gcid = *gcid;
    p.golfCourseName = f[1];
    p.cid = *cid;
    p.courseName = f[3];
    p.holeNo = *hole;
    p.local = {*year, *month, *day, clock->hour, clock->minute, clock->second};
    p.utcOffset = clock->utcOffset;
    p.shotOrPutt = f[7];
    p.additionalNo = f[8];
    p.longitude = *longitude;
    p.latitude = *latitude;
    return true;
}

}  // namespace

PointCsvReader::Record PointCsvReader::ReadRecord() {
    raw_.clear();
    fields_.clear();
    wellFormed_ = true;
    recordLine_ = line_ + 1;
    recordOffset_ = position_;
    constexpr int kEnd = std::char_traits<char>::eof();
    auto take = [this] {
        const int c = in_.sbumpc();
        if (c != kEnd) {
            ++position_;
            if (c == '\n') ++line_;
        }
        return c;
    };
    auto peek = [this] { return in_.sgetc(); };
    if (peek() == kEnd) return Record::End;
    for (;;) {
        std::string& field = fields_.emplace_back();
        int c = take();
        if (c == '"') {
            raw_ += '"';
            for (;;) {
                c = take();
                if (c == kEnd) {
                    wellFormed_ = false;  // no closing quote
                    return Record::Read;
                }
                if (c == '"') {
                    const int next = peek();
                    if (next == '"') {
                        take();
                        raw_ += "\"\"";
                        field += '"';
                        continue;
                    }
                    if (next == ',' || next == '\r' || next == '\n' || next == kEnd) {
                        raw_ += '"';
                        break;
                    }
                    // Otherwise a lone quote of an older file, taken as it stands.
                }
                raw_ += static_cast<char>(c);
                field += static_cast<char>(c);
                if (raw_.size() > kMaxRowBytes) return Record::TooLong;
            }
            c = take();
        } else {
            while (c != ',' && c != '\r' && c != '\n' && c != kEnd) {
                raw_ += static_cast<char>(c);
                field += static_cast<char>(c);
                if (raw_.size() > kMaxRowBytes) return Record::TooLong;
                c = take();
            }
        }
        if (c == ',') {
            raw_ += ',';
            continue;
        }
        if (c == '\r') {
            if (peek() == '\n') {
                take();
                return Record::Read;
            }
            // A CR alone after a field: kept in the line, which is then no row.
            raw_ += '\r';
            wellFormed_ = false;
            while ((c = take()) != '\n' && c != kEnd) {
                raw_ += static_cast<char>(c);
                if (raw_.size() > kMaxRowBytes) return Record::TooLong;
            }
        }
        return Record::Read;  // LF or the end of the input
    }
}

bool PointCsvReader::ParseRecord(ExportPoint& point) const {
    if (wellFormed_ && ParseFields(fields_, point)) return true;
    if (raw_.find('\n') != std::string::npos) return false;
    auto old = ParseUnescapedRow(raw_);
    if (!old) return false;
    point = std::move(*old);
    return true;
}

bool PointCsvReader::Fail(std::size_t line, const char* problem) {
    badLine_ = line;
    problem_ = problem;
    return false;
}

bool PointCsvReader::Next(ExportPoint& point) {
    if (badLine_ != 0) return false;
    for (;;) {
        const Record record = ReadRecord();
        if (record == Record::End) return false;
        if (record == Record::TooLong) return Fail(recordLine_, "not a point row (too long)");
        if (recordOffset_ == 0 && raw_.starts_with(kBom)) raw_.erase(0, kBom.size());
        if (raw_.empty()) continue;  // a blank line
        if (!headerSeen_) {
            if (raw_ != kHeader) return Fail(recordLine_, "not the header of a point CSV file");
            headerSeen_ = true;
            continue;
        }
        if (!ParseRecord(point)) return Fail(recordLine_, "not a point row");
        rowOffset_ = recordOffset_;
        rowLine_ = recordLine_;
        return true;
    }
}

bool PointCsvReader::ReadAt(uint64_t offset, ExportPoint& point) {
    // Maps mostly ask for rows in the file's order: a row just ahead is read up to, since a
    // seek throws away what the stream has buffered.
    constexpr uint64_t kReadAhead = 16 * 1024;
    if (offset >= position_ && offset - position_ <= kReadAhead) {
        char skipped[kReadAhead];
        const auto gap = static_cast<std::streamsize>(offset - position_);
        if (in_.sgetn(skipped, gap) != gap) return false;
    } else {
        const auto at = static_cast<std::streamoff>(offset);
        if (in_.pubseekpos(at, std::ios_base::in) != std::streambuf::pos_type(at)) return false;
    }
    position_ = offset;
    return ReadRecord() == Record::Read && ParseRecord(point);
}

MemoryStreamBuf::MemoryStreamBuf(std::string_view bytes) {
    char* begin = const_cast<char*>(bytes.data());  // only ever read
    setg(begin, begin, begin + bytes.size());
}

MemoryStreamBuf::pos_type MemoryStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                   std::ios_base::openmode which) {
    const off_type base = dir == std::ios_base::beg   ? 0
                          : dir == std::ios_base::cur ? gptr() - eback()
                                                      : egptr() - eback();
    return seekpos(pos_type(base + off), which);
}

MemoryStreamBuf::pos_type MemoryStreamBuf::seekpos(pos_type pos, std::ios_base::openmode which) {
    const off_type at = pos;
    if (!(which & std::ios_base::in) || at < 0 || at > egptr() - eback()) {
        return pos_type(off_type(-1));
    }
    setg(eback(), eback() + at, egptr());
    return pos;
}

CsvReadResult ReadPointCsv(std::string_view bytes) {
    CsvReadResult result;
    MemoryStreamBuf buffer(bytes);
    PointCsvReader reader(buffer);
    ExportPoint point;
    while (reader.Next(point)) result.points.push_back(point);
    result.badLine = reader.BadLine();
    result.problem = reader.Problem();
    return result;
}

std::optional<ExportPoint> ParsePointCsvRow(std::string_view row) {
    MemoryStreamBuf buffer(row);
    PointCsvReader reader(buffer);
    ExportPoint point;
    // The whole text must be the one row.
    if (!reader.ReadAt(0, point) || buffer.sgetc() != std::char_traits<char>::eof()) {
        return std::nullopt;
    }
    return point;
}

}  // namespace mapexport
