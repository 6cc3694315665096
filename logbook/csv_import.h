#pragma once
// Adding the points of a CSV file that an earlier import wrote. The file is read in pieces,
// so a huge or hostile file costs no more memory than one line; a file with a line that is
// not a point row (or not UTF-8, or too long for one) adds nothing at all.
#include <cstddef>
#include <string>

#include "logbook/logbook.h"

namespace logbook {

// Far above the longest row a navigator's record can give.
inline constexpr std::size_t kMaxCsvLine = 16 * 1024;

struct CsvAddResult {
    AddCounts counts;
    std::string error;  // "FILE, line N: why; nothing of it was added", empty when it worked
    bool ok() const { return error.empty(); }
};

// One import: throws LogbookError only when the logbook itself cannot be written.
CsvAddResult AddCsvFile(Logbook& logbook, const std::string& path);

}  // namespace logbook
