#include "app/point_logbook.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <tuple>

#include "app/point_export.h"
#include "platform/output_file.h"
#include "platform/program_folder.h"
#if CADDORA_HAVE_LOGBOOK
#include "export/rounds.h"
#include "logbook/logbook.h"
#include "logbook/report_html.h"
#include "logbook/round_list.h"
#endif

namespace {

#if CADDORA_HAVE_LOGBOOK
// A point as the logbook tells points apart: every field its CSV row shows, the coordinates as
// their six-decimal texts.
using PointKey =
    std::tuple<int32_t, std::string, int32_t, std::string, int, std::string, std::string, int, int,
               int, int, int, int, int, std::string, std::string>;

PointKey KeyOf(const mapexport::ExportPoint& p) {
    return {p.gcid,
            p.golfCourseName,
            p.cid,
            p.courseName,
            p.holeNo,
            p.shotOrPutt,
            p.additionalNo,
            p.local.year,
            p.local.month,
            p.local.day,
            p.local.hour,
            p.local.minute,
            p.local.second,
            p.utcOffset,
            mapexport::DegreesText(p.latitude),
            mapexport::DegreesText(p.longitude)};
}
#endif

}  // namespace

bool LogbookAvailable() {
#if CADDORA_HAVE_LOGBOOK
    return true;
#else
    return false;
#endif
}

LogbookLocation ChooseLogbook(const std::string& option, const char* environment) {
#if CADDORA_HAVE_LOGBOOK
    return {logbook::LogbookPath(option, environment),
            option.empty() && !(environment && *environment)};
#else
    (void)option;
    (void)environment;
    return {};
#endif
}

LogbookAddition AddImportToLogbook(const JobResult& result, const LogbookLocation& where) {
    LogbookAddition addition;
    if (!result.csvKept || result.points.empty()) return addition;
#if CADDORA_HAVE_LOGBOOK
    try {
        if (where.path.empty()) throw logbook::LogbookError("no folder for the logbook is known");
        logbook::Logbook book(where.path, where.createFolder);
        const logbook::AddCounts counts = book.Add(
            ToExportPoints(result.points), result.csvPath.empty() ? "import" : result.csvPath);
        addition.added = counts.added;
        addition.alreadyThere = counts.alreadyThere;
    } catch (const std::exception& e) {
        addition.problem = e.what();
    }
#else
    (void)where;
    addition.problem = "this build keeps no logbook";
#endif
    return addition;
}

std::string WriteImportReport(const LogbookLocation& where, std::span<const PointRecord> points,
                              const std::string& reportPath) {
#if CADDORA_HAVE_LOGBOOK
    try {
        std::set<PointKey> imported;
        for (const PointRecord& record : points) imported.insert(KeyOf(ToExportPoint(record)));
        logbook::Logbook book(where.path);
        std::vector<logbook::RoundSummary> rounds;
        for (logbook::RoundSummary& round : logbook::GroupRounds(book.TimedPoints())) {
            for (const logbook::StoredPoint& p : round.points) {
                if (imported.count(KeyOf(p.point))) {
                    rounds.push_back(std::move(round));
                    break;
                }
            }
        }
        const std::string html = logbook::ReportHtml(rounds);
        platform::OutputFile file(reportPath);
        if (std::fwrite(html.data(), 1, html.size(), file.Stream()) != html.size()) {
            return "cannot write " + reportPath;
        }
        file.Commit();
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
#else
    (void)where;
    (void)points;
    (void)reportPath;
    return "this build keeps no logbook";
#endif
}

std::string ImportReportPath(const std::string& logbookPath) {
    const size_t slash = logbookPath.find_last_of(platform::kPathSeparators);
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = logbookPath.rfind('.');
    const size_t stemEnd = dot == std::string::npos || dot <= nameStart ? logbookPath.size() : dot;
    return logbookPath.substr(0, stemEnd) + "-last-import.html";
}

std::string LogbookProblemLine(const std::string& problem) {
    return std::string(texts::kLogbookNotWritten) + "\n" + problem;
}

std::string ReportProblemLine(const std::string& problem) {
    return std::string(texts::kReportNotWritten) + "\n" + problem;
}
