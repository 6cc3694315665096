#pragma once
// An import's points into the golfer's logbook, shared by the command line and the windows: the
// points go in after the CSV file is in place, and a logbook that cannot be opened or written
// costs the import nothing (the caller says so in a line of its own).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/job_result.h"
#include "app/point_record.h"

namespace texts {
inline constexpr std::string_view kAddToLogbook = "ログブックに記録する";
inline constexpr std::string_view kLogbookReportLink = "取り込んだラウンドのレポートを開く";
inline constexpr std::string_view kLogbookNotWritten = "ログブックに記録できませんでした。";
inline constexpr std::string_view kReportNotWritten =
    "ログブックのレポートを保存できませんでした。";
}  // namespace texts

// Whether this build keeps a logbook at all.
bool LogbookAvailable();

// Where the logbook is, and whether its folder may be made (only the default one's).
struct LogbookLocation {
    std::string path;  // empty: no folder for it is known
    bool createFolder = false;
};

// `option` (--logbook) when given, else `environment` (CADDORA_LOGBOOK) when set, else
// caddora/logbook.sqlite3 in the user's data folder.
LogbookLocation ChooseLogbook(const std::string& option, const char* environment);

struct LogbookAddition {
    int64_t added = 0;
    int64_t alreadyThere = 0;
    std::string problem;  // why nothing was added; empty when the points are in
};

// Adds the points `result` read, as one import named after its CSV file. Nothing to add (no
// record read, or the CSV file was not kept) adds nothing and is no problem.
LogbookAddition AddImportToLogbook(const JobResult& result, const LogbookLocation& where);

// Writes the HTML report of the logbook's rounds that hold any of `points` to `reportPath`;
// returns why it could not (empty: written).
std::string WriteImportReport(const LogbookLocation& where, std::span<const PointRecord> points,
                              const std::string& reportPath);

// Where the report of the last import goes: beside the logbook, named after it.
std::string ImportReportPath(const std::string& logbookPath);

// The done message's lines for a logbook that could not be written and for a report that could
// not be saved: the text, then the reason.
std::string LogbookProblemLine(const std::string& problem);
std::string ReportProblemLine(const std::string& problem);
