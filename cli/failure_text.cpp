#include "cli/failure_text.h"

namespace cli {

namespace {

constexpr const char* kStalled = "the navigator's USB endpoint stalled";

bool WritesFrames(const JobResult& r) {
    return r.job == JobKind::Firmware || r.job == JobKind::CourseData;
}

// "frame 7 of 12": the frame in flight when the run failed.
std::string FailedFrame(const JobResult& r) {
    std::string text = "frame " + std::to_string(r.framesAcknowledged + 1);
    if (r.framesTotal > 0) text += " of " + std::to_string(r.framesTotal);
    return text;
}

// Whether the frame writer had started on its frames (not still loading the patch program).
bool InFrames(const JobResult& r) {
    return WritesFrames(r) && r.framesTotal > 0;
}

bool InTransfer(const JobResult& r) {
    return r.job == JobKind::Ymodem && r.bytesTotal >= 0;
}

std::string Bytes(const JobResult& r) {
    return std::to_string(r.bytesSent) + " of " + std::to_string(r.bytesTotal) + " bytes";
}

std::string Records(int64_t n) {
    return std::to_string(n) + (n == 1 ? " record" : " records");
}

std::string Or(const std::string& detail, const std::string& fallback) {
    return detail.empty() ? fallback : detail;
}

}  // namespace

std::string FailureText(const JobResult& r) {
    switch (r.failure) {
        case JobFailure::None:
            return "the job did not complete";
        case JobFailure::NoDevice:
            return "no connection to the navigator was open";
        case JobFailure::DeviceGone:
            if (InFrames(r)) return "the navigator vanished at " + FailedFrame(r);
            if (InTransfer(r)) return "the navigator vanished after " + Bytes(r);
            if (r.job == JobKind::PointImport && r.RecordsRead() > 0) {
                return "the navigator vanished after " + Records(r.RecordsRead());
            }
            return "the navigator vanished";
        case JobFailure::Stalled:
            if (InFrames(r)) return std::string(kStalled) + " at " + FailedFrame(r);
            if (InTransfer(r)) return std::string(kStalled) + " after " + Bytes(r);
            if (r.job == JobKind::PointImport && r.RecordsRead() > 0) {
                return std::string(kStalled) + " after " + Records(r.RecordsRead());
            }
            return kStalled;
        case JobFailure::NotAnswering:
            if (InFrames(r)) return "the navigator stopped answering at " + FailedFrame(r);
            if (InTransfer(r)) return "the navigator stopped answering after " + Bytes(r);
            if (r.job == JobKind::PointImport) {
                return "the navigator stopped answering at record " +
                       std::to_string(r.RecordsRead() + 1);
            }
            if (r.job == JobKind::Ymodem) {
                return "the navigator stopped answering before the transfer began";
            }
            return "the navigator stopped answering";
        case JobFailure::Refused:
            if (WritesFrames(r)) return "the navigator refused " + FailedFrame(r) + " (NAK)";
            return "the navigator refused to enter update mode (NAK)";
        case JobFailure::RefusedFile:
            if (InTransfer(r)) return "the navigator refused the file after " + Bytes(r);
            return Or(r.detail, "the file is not of the kind this job takes") +
                   (r.job == JobKind::Ymodem ? "; nothing was sent" : "; nothing was written");
        case JobFailure::PatchFailed:
            return "the navigator did not take the patch program";
        case JobFailure::FlashNotFound:
            return "the navigator's flash did not identify itself (flash not found)";
        case JobFailure::CsvNotWritable:
            return Or(r.detail, "the CSV file could not be written");
        case JobFailure::FileTooLarge:
            return Or(r.detail, "the file is too large");
        case JobFailure::Checksum:
            return Or(r.detail, "the file does not match its digest");
        case JobFailure::FileUnreadable:
            return Or(r.detail, "the file could not be read");
        case JobFailure::UnknownCourseFile:
            return "the file's name is not one a course-data file may have; nothing was written";
        case JobFailure::BadSettings:
            return "the point area's length is not a number";
        case JobFailure::Interrupted:
            if (InFrames(r)) {
                return "interrupted after " + std::to_string(r.framesAcknowledged) + " of " +
                       std::to_string(r.framesTotal) + " frames";
            }
            if (InTransfer(r)) return "interrupted after " + Bytes(r);
            if (r.job == JobKind::PointImport) {
                return "interrupted after " + Records(r.RecordsRead());
            }
            return "interrupted";
        case JobFailure::Unexpected:
            return "the job failed: " + Or(r.detail, "unknown error");
    }
    return "the job did not complete";
}

}  // namespace cli
