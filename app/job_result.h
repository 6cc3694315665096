#pragma once
// What a job hands back when it ends: whether it worked, why not, the figures that matter and
// the message box it showed. Front ends decide from this value, never from message texts.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "app/point_record.h"

enum class JobKind { Firmware, CourseData, PointImport, Ymodem };

enum class JobOutcome { Done, Failed };

enum class JobFailure {
    None,
    NoDevice,        // no connection was handed to the job
    DeviceGone,      // the connection closed under the job
    Stalled,         // a USB endpoint of the device stalled (the halt is cleared again)
    NotAnswering,    // a wait for an answer ran out
    Refused,         // the device refused a frame
    PatchFailed,     // the patch program could not be loaded and started
    RefusedFile,     // the file is not of the kind the job takes (nothing was sent)
    FileTooLarge,    // the file passes the job's size limit
    Checksum,        // the packed payload does not match its digest or is corrupt
    FileUnreadable,  // the file could not be opened or read
    UnknownCourseFile,
    BadSettings,    // a settings text is not a number
    FlashNotFound,  // the SPI-NOR flash did not identify itself
    CsvNotWritable,
    Interrupted,  // the front end asked the job to stop (Main::RequestStop)
    Unexpected,   // an error escaped the job body; its text is in `detail`
};

// A message box as shown: text, caption, icon.
struct JobMessage {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    bool operator==(const JobMessage&) const = default;
};

struct JobResult {
    JobKind job = JobKind::Firmware;
    JobOutcome outcome = JobOutcome::Failed;
    JobFailure failure = JobFailure::Unexpected;
    // Why a refused file was refused, why the CSV could not be written, or the text of an
    // error that ended the job, in words (empty otherwise).
    std::string detail;
    // The message box the job showed, if any.
    std::optional<JobMessage> message;

    // Frame writers (firmware, course data): frames the device acknowledged of those planned;
    // a failed run failed at frame framesAcknowledged + 1. The course data's plan covers the
    // whole file when its length is known at the start, else the chunks read so far.
    int64_t framesAcknowledged = 0;
    int64_t framesTotal = 0;
    // YMODEM: payload bytes sent and the payload's size (-1 before it was known).
    int64_t bytesSent = 0;
    int64_t bytesTotal = -1;
    // Point import: the CSV file, the records read from flash in order, and the rows that
    // reached the file (a row whose write failed is not counted).
    std::string csvPath;
    std::vector<PointRecord> points;
    int64_t rowsWritten = 0;
    // Whether the CSV file was put in place (a failure before the first record leaves the
    // path as it was).
    bool csvKept = false;
    // Point import in a window: the logbook's counts, why the points could not be added (empty
    // when they were, or when the window keeps no logbook), and the report of the rounds just
    // imported (empty when none was written) or why it could not be written.
    int64_t logbookAdded = 0;
    int64_t logbookAlreadyThere = 0;
    std::string logbookProblem;
    std::string reportPath;
    std::string reportProblem;

    bool Done() const { return outcome == JobOutcome::Done; }
    int64_t RecordsRead() const { return static_cast<int64_t>(points.size()); }
};

// Short English name of a failure kind, for logs and JSON ("device gone", ...).
const char* JobFailureName(JobFailure failure);

// The message boxes the jobs show. The error's first line is "Error!"; a failure whose result
// says why (the file and the system's reason, say) has that text on the lines under it.
JobMessage ErrorMessage(const std::string& detail = {});
JobMessage WriteDoneMessage();
// The point import's done message with the CSV's path on a line of its own, for a window whose
// user did not choose where the file goes.
JobMessage PointsWrittenMessage(const std::string& csvPath);
JobMessage FileTooLargeMessage();
JobMessage BadChecksumMessage();
