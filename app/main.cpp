#include "app/main.h"

#include <cstring>
#include <utility>

#include "app/window_texts.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/program_folder.h"
#include "platform/shell.h"
#include "platform/thread_name.h"
#include "platform/tick.h"
#include "platform/user_folders.h"

namespace {

// Upper bound for the reader thread to leave once its stream is closed.
constexpr uint32_t kReaderExitWaitMs = 2000;
// Shortest time between two device checks asked for by failed links.
constexpr int64_t kLinkFailureCheckGapMs = 1000;

std::string Str(std::string_view text) {
    return std::string(text);
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

Main::Main(MainView& view, platform::Settings settings)
    : view_(view), settings_(std::move(settings)) {
    UsbInterface = std::make_unique<Usb_Port>(settings_);
    // The view has built its controls before handing itself to Main.
    bootMemory.fill(0);
    deviceExistOld = false;
    deviceExist = false;
    deviceCon = false;
    FwType = false;
    // A held link that fails asks for a device check, which finds the device gone or connects
    // anew. A link that fails again right after it was replaced (a device that opens but cannot
    // be read) asks at most once a second, so the two never chase each other.
    linkFailure_->notify = [this] {
        const uint32_t now = platform::CurrentClock().Now();
        if (lastLinkFailureCheck_ &&
            platform::TickDiff(now, *lastLinkFailureCheck_) < kLinkFailureCheckGapMs) {
            return;
        }
        lastLinkFailureCheck_ = now;
        PostToUi([this] { CheckDeviceStatus(); });
    };
    CheckDeviceStatus();
    patchStatus = false;
    // Each delegate carries the value the job meant at the time it posted.
    UpdateProgressDelegate = [this](int32_t value) {
        const int32_t maximum = progressMax;
        PostToUi([this, maximum, value] { ApplyProgress(maximum, value); });
    };
    UpdateButtonDelegate = [this](bool enable) {
        PostToUi([this, enable] { UpdateButton(enable); });
    };
    ErrorShowDelegate = [this] { PostToUi([this] { ErrorShow(); }); };
    view_.SetTitle(Str(texts::kProductLine));
}

Main::~Main() {
    {
        std::lock_guard<std::mutex> lock(linkFailure_->mutex);
        linkFailure_->notify = nullptr;
    }
    // A job that waits in a message box is released by the view before Main goes.
    if (jobThread_.joinable()) jobThread_.join();
    // A query's outcome posted now is dropped with Main.
    if (queryThread_.joinable()) queryThread_.join();
    std::shared_ptr<RefDevRunTimePara> record;
    {
        std::lock_guard<std::mutex> lock(connMutex_);
        DisconnectLocked();
        record = refDevData;
    }
    // Closing the stream ended the reader's read; let it leave before the process may end.
    if (record) {
        const uint32_t deadline = platform::TickCount() + kReaderExitWaitMs;
        while (record->usbDevThread.IsAlive() &&
               !platform::TickReached(platform::TickCount(), deadline)) {
            platform::SleepMs(2);
        }
    }
    UsbInterface->Dispose();
}

// --- Window callbacks ----------------------------------------------------------------------

void Main::UpdateProgress(int32_t value) {
    ApplyProgress(progressMax, value);
}

void Main::ApplyProgress(int32_t maximum, int32_t value) {
    if (maximum > 0) view_.SetProgressMaximum(maximum);
    view_.SetProgressValue(value);
}

void Main::UpdateButton(bool enable) {
    view_.SetTabControlEnabled(enable);
    view_.SetCloseAllowed(enable);
    view_.SetButtonEnabled(JobButton::KroDown, enable);
    view_.SetButtonEnabled(JobButton::Updata, enable);
    view_.SetButtonEnabled(JobButton::FwDown, !FwType);
    view_.SetProgressVisible(!enable);
}

void Main::ErrorShow() {
    view_.ShowMessage(Str(texts::kErrorText), Str(texts::kErrorCaption), MessageIcon::Error);
}

// --- Click handlers ------------------------------------------------------------------------

void Main::buttonFwDown_Click() {
    if (JobRunning()) return;
    if (DeferWhileQuerying([this] { buttonFwDown_Click(); })) return;
    // Disabled at once; the mode query decides whether it comes back and the dialog opens.
    view_.SetButtonEnabled(JobButton::FwDown, false);
    QueryModeThen(ConnectRefDev(), [this](std::optional<bool> boot) {
        ApplyMode(boot);
        ContinueFirmwareClick();
    });
}

void Main::ContinueFirmwareClick() {
    if (FwType) return;
    auto path = view_.AskOpenFile({Str(texts::kFirmwareExt), Str(texts::kFirmwareFilter), {}});
    // A cancelled dialog starts nothing; the connection opened above stays open.
    if (!path || JobRunning()) return;
    if (!ConnectRefDev() || FwType) return;
    auto stream = CurrentStream();
    if (!stream) return;
    stream->ReadTimeout(kJobReadTimeoutMs);
    SendPort = stream;
    filePath = *path;
    StartJob(&Main::FirmwareThread, JobButton::FwDown);
}

void Main::buttonKroDown_Click() {
    if (JobRunning()) return;
    if (DeferWhileQuerying([this] { buttonKroDown_Click(); })) return;
    auto path = view_.AskOpenFile({{}, Str(texts::kCourseFilter), Str(texts::kCourseFileName)});
    if (!path || JobRunning() || !PatchImageAvailable() || !ConnectRefDev()) return;
    auto stream = CurrentStream();
    if (!stream) return;
    view_.SetLabelPackets(Str(texts::kPacketsDefault));
    stream->ReadTimeout(kJobReadTimeoutMs);
    SendPort = stream;
    kroType = EndsWith(*path, ".ckfm") ? 1 : EndsWith(*path, ".kzip") ? 2 : 0;
    filePath = *path;
    type = 2;
    StartJob(&Main::KrodownThread, JobButton::KroDown, true);
}

void Main::buttonUpdata_Click() {
    if (JobRunning()) return;
    if (DeferWhileQuerying([this] { buttonUpdata_Click(); })) return;
    // Disabled at once; a failed connection leaves it so until the next device check.
    view_.SetButtonEnabled(JobButton::Updata, false);
    if (!PatchImageAvailable()) {
        view_.SetButtonEnabled(JobButton::Updata, true);
        return;
    }
    if (!ConnectRefDev()) return;
    auto stream = CurrentStream();
    if (!stream) return;
    stream->ReadTimeout(kPointReadTimeoutMs);
    SendPort = stream;
    // An installed program's folder is not writable for its user: then the documents folder.
    filePath = !pointCsvPath.empty()
                   ? pointCsvPath
                   : platform::OutputFolder(platform::ProgramFolder()) + platform::kPathSeparator +
                         platform::LocalTimestamp() + ".csv";
    type = 1;
    jobMapFormats_ = pointMapFormats;
    jobLogbook_ = addPointsToLogbook ? pointLogbook : std::nullopt;
    StartJob(&Main::UpdataThread, JobButton::Updata, true);
}

void Main::linkLabel1_LinkClicked() {
    view_.OpenUrl(Str(texts::kMakerUrl));
}

void Main::linkLabel2_LinkClicked() {
    view_.OpenUrl(Str(texts::kMemberUrl));
}

void Main::linkLabelReport_LinkClicked() {
    if (!pointReportPath_.empty()) view_.OpenUrl(platform::FileUrl(pointReportPath_));
}

// --- Job thread ----------------------------------------------------------------------------

bool Main::StartJob(JobBody body, JobButton button, bool checkPatchFirst) {
    if (jobRunning_.exchange(true)) return false;
    stopRequested_ = false;
    view_.SetButtonEnabled(button, false);
    // The previous job has cleared the flag, so it is at its very end.
    if (jobThread_.joinable()) jobThread_.join();
    // Held while the thread starts: the job's first step waits until DevThread names it.
    std::lock_guard<std::mutex> lock(connMutex_);
    try {
        jobThread_ = std::thread(&Main::RunJob, this, body, button, checkPatchFirst);
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> endLock(jobEndMutex_);
            jobRunning_ = false;
        }
        jobEndCv_.notify_all();
        view_.SetButtonEnabled(button, true);
        return false;
    }
    if (refDevData) refDevData->DevThread = jobThread_.get_id();
    return true;
}

void Main::RunJob(JobBody body, JobButton button, bool checkPatchFirst) {
    { std::lock_guard<std::mutex> started(connMutex_); }
    platform::SetCurrentThreadName("caddora job");
    JobResult result;
    try {
        if (checkPatchFirst) CheckPatchVersion();
        result = JobBodyOverride ? JobBodyOverride(button) : (this->*body)();
    } catch (...) {
        // A job that lets an error escape still ends as a failed job does, and keeps its text.
        std::string text = "unknown error";
        try {
            throw;
        } catch (const std::exception& e) {
            text = e.what();
        } catch (...) {
        }
        result = JobResult{};
        result.job = button == JobButton::Updata    ? JobKind::PointImport
                     : button == JobButton::KroDown ? JobKind::CourseData
                                                    : JobKind::Firmware;
        result.failure = JobFailure::Unexpected;
        result.detail = std::move(text);
        result.message = PostError(result.detail);
        UpdateButtonDelegate(true);
        DisconnectRevDev();
    }
    {
        std::lock_guard<std::mutex> lock(jobEndMutex_);
        jobRunning_ = false;
    }
    jobEndCv_.notify_all();
    PostToUi([this, result = std::move(result)] {
        view_.JobEnded(result);
        // Probed and closed again, as the job left it: another program may want the device.
        if (recheckAfterJob) CheckDevice(true);
    });
}

bool Main::WaitForJobEnd(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(jobEndMutex_);
    platform::Clock& clock = platform::CurrentClock();
    return clock.WaitUntil(
        lock, jobEndCv_, [this] { return !jobRunning_.load(); }, clock.Now() + timeoutMs);
}

void Main::PostToUi(std::function<void()> call) {
    std::weak_ptr<int> alive = alive_;
    view_.Post([alive, call = std::move(call)] {
        if (alive.lock()) call();
    });
}

void Main::PostProgressRange(int32_t maximum, int32_t value) {
    PostToUi([this, maximum, value] { view_.SetProgressRange(maximum, value); });
}

void Main::PostProgressStep() {
    PostToUi([this] { view_.StepProgress(); });
}

JobMessage Main::ShowJobMessage(const JobMessage& message) {
    view_.ShowMessage(message.text, message.caption, message.icon);
    return message;
}

JobMessage Main::PostError(const std::string& detail) {
    if (detail.empty()) {
        ErrorShowDelegate();
        return ErrorMessage();
    }
    JobMessage message = ErrorMessage(detail);
    PostToUi([this, message] { view_.ShowMessage(message.text, message.caption, message.icon); });
    return message;
}

JobFailure AckFailure(int32_t ack, const FIFOStream& port) {
    if (ack == kAckRefused) return JobFailure::Refused;
    return WaitFailure(port, JobFailure::NotAnswering);
}

JobFailure WaitFailure(const FIFOStream& port, JobFailure whileOpen) {
    if (port.IsOpen()) return whileOpen;
    return port.Fault() == SourceFault::Stalled ? JobFailure::Stalled : JobFailure::DeviceGone;
}

std::string Main::SettingText(Setting setting) {
    return view_.SettingText(setting);
}
