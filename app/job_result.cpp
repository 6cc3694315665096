#include "app/job_result.h"

#include "app/window_texts.h"

const char* JobFailureName(JobFailure failure) {
    switch (failure) {
        case JobFailure::None:
            return "none";
        case JobFailure::NoDevice:
            return "no device";
        case JobFailure::DeviceGone:
            return "device gone";
        case JobFailure::Stalled:
            return "endpoint stalled";
        case JobFailure::NotAnswering:
            return "not answering";
        case JobFailure::Refused:
            return "refused";
        case JobFailure::PatchFailed:
            return "patch program failed";
        case JobFailure::RefusedFile:
            return "refused file";
        case JobFailure::FileTooLarge:
            return "file too large";
        case JobFailure::Checksum:
            return "checksum";
        case JobFailure::FileUnreadable:
            return "file unreadable";
        case JobFailure::UnknownCourseFile:
            return "unknown course file";
        case JobFailure::BadSettings:
            return "bad settings";
        case JobFailure::FlashNotFound:
            return "flash not found";
        case JobFailure::CsvNotWritable:
            return "CSV not writable";
        case JobFailure::Interrupted:
            return "interrupted";
        case JobFailure::Unexpected:
            return "unexpected error";
    }
    return "?";
}

JobMessage ErrorMessage(const std::string& detail) {
    std::string text(texts::kErrorText);
    if (!detail.empty()) text += "\n" + detail;
    return {std::move(text), std::string(texts::kErrorCaption), MessageIcon::Error};
}

JobMessage WriteDoneMessage() {
    return {std::string(texts::kWriteDone), {}, MessageIcon::None};
}

JobMessage PointsWrittenMessage(const std::string& csvPath) {
    return {std::string(texts::kWriteDone) + "\n" + csvPath, {}, MessageIcon::None};
}

JobMessage FileTooLargeMessage() {
    return {std::string(texts::kFileTooLarge), {}, MessageIcon::None};
}

JobMessage BadChecksumMessage() {
    return {std::string(texts::kBadChecksum), std::string(texts::kErrorCaption),
            MessageIcon::Error};
}
