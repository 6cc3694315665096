// The point-data import: reads the saved points out of the navigator's SPI-NOR flash, one
// 192-byte record per request, into a CSV file beside the program (when its folder is
// writable, else in the user's documents folder) or where the front end says.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/main.h"
#include "app/point_area.h"
#include "app/point_import_maps.h"
#include "app/point_record.h"
#include "platform/output_file.h"
#include "platform/tick.h"
#include "protocol/patch_upload.h"
#include "protocol/spinor_read.h"

namespace {

// A row is handed over whole; a pipe or a device gets it at once, so a reader at the other
// end sees each row as it is read.
bool WriteAll(platform::OutputFile& file, std::string_view bytes) {
    std::FILE* f = file.Stream();
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return false;
    return !file.InPlace() || std::fflush(f) == 0;
}

enum class ReadEnd {
    AreaDone,  // every request of the area was answered
    Erased,    // an erased record marks the end of the saved points
    Failed,    // no valid answer in time, a short answer, the file could not be written, or
               // the job was asked to stop
};

// The record loop: one request in flight at a time, one row per record; the records and rows
// go into `result`, and a failure's kind too.
ReadEnd ReadRecords(Main& main, FIFOStream& port, platform::OutputFile& file, const PointArea& area,
                    JobResult& result) {
    const uint32_t records = area.RecordCount();
    for (uint32_t i = 0; i < records; ++i) {
        if (main.StopRequested()) {
            result.failure = JobFailure::Interrupted;
            return ReadEnd::Failed;
        }
        const uint16_t length = area.RequestLength(i);
        const auto request = MakeSpinorReadFrame(area.RequestAddress(i), length);
        port.SendCmd(request.data(), 0, static_cast<int32_t>(request.size()));
        const uint32_t deadline = platform::TickCount() + kSpinorReplyTimeoutMs;
        const auto payload = WaitForSpinorData(port, deadline);
        // Fewer bytes than asked for is no answer to this request.
        if (!payload || payload->size() < length) {
            result.failure = WaitFailure(port, JobFailure::NotAnswering);
            return ReadEnd::Failed;
        }
        if (IsErasedPointRecord(*payload)) return ReadEnd::Erased;
        // The short tail of an area that is not a whole number of records holds no record.
        if (payload->size() < kPointRecordLength) return ReadEnd::AreaDone;
        result.points.push_back(ParsePointRecord(
            std::span<const uint8_t, kPointRecordLength>(payload->data(), kPointRecordLength)));
        if (!WriteAll(file, FormatPointRowUtf8(result.points.back()))) {
            result.failure = JobFailure::CsvNotWritable;
            result.detail = "cannot write " + file.Target() + ": " + std::strerror(errno);
            return ReadEnd::Failed;
        }
        ++result.rowsWritten;
        main.PostProgress(static_cast<int32_t>(i));
    }
    return ReadEnd::AreaDone;
}

}  // namespace

void Main::AddPointsToLogbook(JobResult& result) {
    if (jobLogbook_ && result.csvKept && !result.points.empty()) {
        const LogbookAddition addition = AddImportToLogbook(result, *jobLogbook_);
        result.logbookAdded = addition.added;
        result.logbookAlreadyThere = addition.alreadyThere;
        result.logbookProblem = addition.problem;
        if (addition.problem.empty()) {
            const std::string report = ImportReportPath(jobLogbook_->path);
            result.reportProblem = WriteImportReport(*jobLogbook_, result.points, report);
            if (result.reportProblem.empty()) result.reportPath = report;
        }
    }
    // The link leads to this import's rounds, or is gone when it brought none.
    PostToUi([this, report = result.reportPath] {
        pointReportPath_ = report;
        view_.ShowReportLink(!report.empty());
    });
}

JobResult Main::UpdataThread() {
    JobResult result;
    result.job = JobKind::PointImport;
    result.csvPath = filePath;
    // Rows go into a temporary file beside the target, which is put in place at the end only
    // when there is something to keep: an existing file is never emptied by a failed run.
    std::unique_ptr<platform::OutputFile> file;
    try {
        file = std::make_unique<platform::OutputFile>(filePath);
    } catch (const platform::StreamError& e) {
        result.detail = e.what();
    }
    const auto length = ParseAreaLength(SettingText(Setting::textUpLen));
    const PointArea area{0, length.value_or(0)};
    const uint32_t records = area.RecordCount();
    progressMax = static_cast<int32_t>(records);
    UpdateButtonDelegate(false);

    // The import has worked only when it read up to an erased record or the area's end; a
    // file that could not be created or a length text that is no number fail it at once.
    bool complete = false;
    if (!file) {
        result.failure = JobFailure::CsvNotWritable;
    } else if (!length) {
        result.failure = JobFailure::BadSettings;
    } else if (!SendPort) {
        result.failure = JobFailure::NoDevice;
    } else {
        const bool patchReady = patchStatus || FwType || sendPatchFile() == kPatchStarted;
        progressMax = static_cast<int32_t>(records);
        if (!patchReady) {
            result.failure = WaitFailure(*SendPort, JobFailure::PatchFailed);
        } else if (StopRequested()) {
            result.failure = JobFailure::Interrupted;
        } else if (!CheckSpinorId()) {
            result.failure = WaitFailure(*SendPort, JobFailure::FlashNotFound);
        } else if (records == 0) {
            complete = true;
        } else if (!WriteAll(*file, PointCsvHeader())) {
            result.failure = JobFailure::CsvNotWritable;
            result.detail = "cannot write " + filePath + ": " + std::strerror(errno);
        } else {
            const PointArea from{ParseAreaStart(SettingText(Setting::textUpAddr)), area.length};
            const ReadEnd end = ReadRecords(*this, *SendPort, *file, from, result);
            complete = end != ReadEnd::Failed;
            if (end == ReadEnd::AreaDone) {
                UpdateProgressDelegate(static_cast<int32_t>(records));
                if (FwType) SendResetCmd();
            }
        }
    }

    UpdateButtonDelegate(true);
    // A complete run is kept even without a record (its header alone); a failed one only when
    // it read something. A failed final write loses rows: that fails the import too.
    if (file && (complete || result.RecordsRead() > 0)) {
        try {
            file->Commit();
            result.csvKept = true;
        } catch (const platform::StreamError& e) {
            complete = false;
            result.failure = JobFailure::CsvNotWritable;
            result.detail = e.what();
        }
    }
    file.reset();
    SendResetCmd();
    UpdateButtonDelegate(true);
    DisconnectRevDev();
    AddPointsToLogbook(result);
    if (complete) {
        result.outcome = JobOutcome::Done;
        result.failure = JobFailure::None;
        const std::string mapProblem = SaveChosenPointMaps(result);
        // The window picked the file's folder itself, so it says where the file is.
        JobMessage done =
            pointCsvPath.empty() ? PointsWrittenMessage(filePath) : WriteDoneMessage();
        // The import has worked whatever became of the logbook: a line more, no failure.
        if (!result.logbookProblem.empty()) {
            done.text.append("\n").append(LogbookProblemLine(result.logbookProblem));
        } else if (!result.reportProblem.empty()) {
            done.text.append("\n").append(ReportProblemLine(result.reportProblem));
        }
        result.message = ShowJobMessage(done);
        if (!mapProblem.empty()) ShowJobMessage(MapsNotSavedMessage(mapProblem));
    } else if (result.failure != JobFailure::Interrupted) {
        // A stop asked for by the front end is its own doing: it reports that itself.
        result.message = PostError(result.detail);
    }
    return result;
}
