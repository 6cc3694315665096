#pragma once
// Adding the points of a CSV file that an earlier import wrote. The file is read row by row,
// so a huge or hostile file costs no more memory than one row; a file with a row that is not a
// point row (or not UTF-8, or too long for one) adds nothing at all.
#include <cstddef>
#include <string>

#include "logbook/logbook.h"

namespace logbook {

struct CsvAddResult {
    AddCounts counts;
    std::string error;  // "FILE, line N: why; nothing of it was added", empty when it worked
    bool ok() const { return error.empty(); }
};

// One import: throws LogbookError only when the logbook itself cannot be written.
CsvAddResult AddCsvFile(Logbook& logbook, const std::string& path);

}  // namespace logbook
