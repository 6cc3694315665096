#pragma once
// Reads back the CSV files the point import writes: the UTF-8 byte-order mark and header, then
// rows in any of the three time patterns ("09:05:07" for offset 540, "09:05:07 UTC+10:00" for
// other offsets east of UTC, "09:05:07 UTC-5:00" / "UTC00:00" for offsets of 0 and west).
//
// Names are not escaped in those rows, so a row is taken apart from both ends: the fields
// after the course name have fixed shapes, and the golf course name ends at the first
// `","<digits>","` (the course id).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_point.h"

namespace mapexport {

struct CsvReadResult {
    std::vector<ExportPoint> points;
    // First line that is neither the header nor a point row (1-based), 0 when there is none.
    std::size_t badLine = 0;
    std::string problem;
    bool ok() const { return badLine == 0; }
};

// Lines end in CR LF (LF alone is accepted); blank lines are skipped. An empty file holds no
// points. Stops at the first line it cannot read.
CsvReadResult ReadPointCsv(std::string_view bytes);

// The same reading one line at a time, for a file read in pieces: holds only the line count
// and whether the header has been seen.
class PointCsvLines {
public:
    enum class Line { Skip, Point, Bad };
    // `line` without its LF (a CR before it is dropped). Skip: blank, or the header; Point:
    // `point` holds the row; Bad: Problem() says why.
    Line Take(std::string_view line, ExportPoint& point);
    std::size_t LineNo() const { return lineNo_; }  // of the last line taken (1-based)
    const std::string& Problem() const { return problem_; }

private:
    std::size_t lineNo_ = 0;
    bool headerSeen_ = false;
    std::string problem_;
};

// One row without its line end.
std::optional<ExportPoint> ParsePointCsvRow(std::string_view row);

// The "time" column: the local time and the offset its suffix gives (none: 540).
struct TimeColumn {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffset = 0;
};
std::optional<TimeColumn> ParseTimeColumn(std::string_view text);

}  // namespace mapexport
