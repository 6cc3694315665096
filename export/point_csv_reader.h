#pragma once
// Reads back the CSV files the point import writes: the UTF-8 byte-order mark and header, then
// rows in any of the three time patterns ("09:05:07" for offset 540, "09:05:07 UTC+10:00" for
// other offsets east of UTC, "09:05:07 UTC-5:00" / "UTC00:00" for offsets of 0 and west).
//
// Fields are read as RFC 4180 has them: a quoted field may hold commas, CR and LF, and a quote
// doubled. Files written before names were escaped may hold a lone quote in a name: a quote
// inside a quoted field that is neither doubled nor followed by a comma or a line end is taken
// as it stands, and a one-line row that still does not split into its fields is taken apart
// from both ends (the fields after the course name have fixed shapes, and the golf course
// name ends at the first `","<digits>","`, the course id).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_point.h"

namespace mapexport {

// Point rows one at a time from a stream of bytes, so that a file of any size is read in a
// bounded amount of memory. Lines end in CR LF (LF alone is accepted); blank lines are
// skipped; the first line must be the header.
class PointCsvReader {
public:
    // A row longer than this is no point row (the import writes rows of a few hundred bytes).
    static constexpr std::size_t kMaxRowBytes = 64 * 1024;

    explicit PointCsvReader(std::streambuf& in) : in_(in) {}

    // The next point; false at the end of the input or at the first line that is neither the
    // header nor a point row (BadLine() and Problem() then say which and why).
    bool Next(ExportPoint& point);
    // Where the row Next returned last starts, in bytes from the start of the input.
    uint64_t RowOffset() const { return rowOffset_; }
    // The line on which that row starts (1-based).
    std::size_t RowLine() const { return rowLine_; }
    // Reads the row at `offset` (a RowOffset) again; false when it is no point row.
    bool ReadAt(uint64_t offset, ExportPoint& point);

    // The first line that is neither the header nor a point row (1-based), 0 when there is none.
    std::size_t BadLine() const { return badLine_; }
    const std::string& Problem() const { return problem_; }

private:
    enum class Record { End, Read, TooLong };
    Record ReadRecord();
    bool ParseRecord(ExportPoint& point) const;
    bool Fail(std::size_t line, const char* problem);

    std::streambuf& in_;
    uint64_t position_ = 0;  // bytes taken from `in_`
    std::size_t line_ = 0;   // line ends taken from `in_`
    // The record last read: its bytes without the line end, its fields, whether it split into
    // fields the way RFC 4180 has them, and where it starts.
    std::string raw_;
    std::vector<std::string> fields_;
    bool wellFormed_ = true;
    std::size_t recordLine_ = 0;
    uint64_t recordOffset_ = 0;
    uint64_t rowOffset_ = 0;
    std::size_t rowLine_ = 0;
    bool headerSeen_ = false;
    std::size_t badLine_ = 0;
    std::string problem_;
};

struct CsvReadResult {
    std::vector<ExportPoint> points;
    // First line that is neither the header nor a point row (1-based), 0 when there is none.
    std::size_t badLine = 0;
    std::string problem;
    bool ok() const { return badLine == 0; }
};

// A whole file in memory. An empty file holds no points. Stops at the first line it cannot
// read.
CsvReadResult ReadPointCsv(std::string_view bytes);

// One row without its line end (line breaks inside its quoted fields belong to it).
std::optional<ExportPoint> ParsePointCsvRow(std::string_view row);

// The "time" column: the local time and the offset its suffix gives (none: 540).
struct TimeColumn {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffset = 0;
};
std::optional<TimeColumn> ParseTimeColumn(std::string_view text);

// A stream buffer over bytes in memory that can seek (for ReadAt).
class MemoryStreamBuf : public std::streambuf {
public:
    explicit MemoryStreamBuf(std::string_view bytes);

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
};

}  // namespace mapexport
