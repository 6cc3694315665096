// The command line's words for a failed job, from the job's result alone.
#include <gtest/gtest.h>

#include "cli/failure_text.h"

namespace cli {
namespace {

JobResult Failed(JobKind job, JobFailure failure) {
    JobResult r;
    r.job = job;
    r.failure = failure;
    return r;
}

TEST(FailureText, SaysWhatTheNavigatorDidAndWhere) {
    struct Case {
        JobResult result;
        std::string text;
    };
    std::vector<Case> cases;
    JobResult r = Failed(JobKind::CourseData, JobFailure::NotAnswering);
    r.framesAcknowledged = 6;
    r.framesTotal = 12;
    cases.push_back({r, "the navigator stopped answering at frame 7 of 12"});
    r.failure = JobFailure::Refused;
    cases.push_back({r, "the navigator refused frame 7 of 12 (NAK)"});
    r.failure = JobFailure::Stalled;
    cases.push_back({r, "the navigator's USB endpoint stalled at frame 7 of 12"});
    r.failure = JobFailure::DeviceGone;
    r.framesTotal = 0;  // still loading the patch program
    cases.push_back({r, "the navigator vanished"});
    r = Failed(JobKind::Ymodem, JobFailure::RefusedFile);
    r.bytesSent = 2048;
    r.bytesTotal = 5000;
    cases.push_back({r, "the navigator refused the file after 2048 of 5000 bytes"});
    r.failure = JobFailure::Stalled;
    cases.push_back({r, "the navigator's USB endpoint stalled after 2048 of 5000 bytes"});
    r.failure = JobFailure::RefusedFile;
    r.bytesTotal = -1;
    r.detail = "not a packed firmware file";
    cases.push_back({r, "not a packed firmware file; nothing was sent"});
    cases.push_back({Failed(JobKind::PointImport, JobFailure::PatchFailed),
                     "the navigator did not take the patch program"});
    r = Failed(JobKind::PointImport, JobFailure::Interrupted);
    r.points.resize(1);
    cases.push_back({r, "interrupted after 1 record"});
    r = Failed(JobKind::Firmware, JobFailure::Unexpected);
    r.detail = "bad_alloc";
    cases.push_back({r, "the job failed: bad_alloc"});
    for (const Case& c : cases) EXPECT_EQ(FailureText(c.result), c.text);

    // The short names of the JSON lines.
    const std::pair<JobFailure, std::string> names[] = {
        {JobFailure::None, "none"},
        {JobFailure::NoDevice, "no device"},
        {JobFailure::DeviceGone, "device gone"},
        {JobFailure::Stalled, "endpoint stalled"},
        {JobFailure::NotAnswering, "not answering"},
        {JobFailure::Refused, "refused"},
        {JobFailure::PatchFailed, "patch program failed"},
        {JobFailure::RefusedFile, "refused file"},
        {JobFailure::FileTooLarge, "file too large"},
        {JobFailure::Checksum, "checksum"},
        {JobFailure::FileUnreadable, "file unreadable"},
        {JobFailure::UnknownCourseFile, "unknown course file"},
        {JobFailure::BadSettings, "bad settings"},
        {JobFailure::FlashNotFound, "flash not found"},
        {JobFailure::CsvNotWritable, "CSV not writable"},
        {JobFailure::Interrupted, "interrupted"},
        {JobFailure::Unexpected, "unexpected error"},
    };
    for (const auto& [failure, name] : names) EXPECT_EQ(JobFailureName(failure), name);
}

}  // namespace
}  // namespace cli
