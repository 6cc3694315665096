#include "cli/terminal_view.h"

#include <algorithm>
#include <limits>

#include "cli/json_line.h"

namespace cli {

namespace {

ProgressStyle StyleOf(const TerminalView::Options& o) {
    if (o.json) return ProgressStyle::Json;
    return o.errIsTerminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

const char* IconName(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return "error";
        case MessageIcon::Information:
            return "information";
        case MessageIcon::Warning:
            return "warning";
        case MessageIcon::None:
            break;
    }
    return "none";
}

}  // namespace

TerminalView::TerminalView(Options options)
    : options_(std::move(options)),
      progress_(options_.json ? *options_.out : *options_.err, StyleOf(options_), options_.unit) {
    if (options_.subject) progress_.SetSubject(*options_.subject, options_.unit, 0);
}

TerminalView::~TerminalView() {
    progress_.Interrupt();
}

uint64_t TerminalView::NowMs() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
}

void TerminalView::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    posted_.notify_one();
}

void TerminalView::SetProgressMaximum(int32_t maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Within whole-file runs the maximum is the file's, not the run's.
    if (!inRuns_) progress_.SetMaximum(maximum, NowMs());
}

void TerminalView::SetProgressValue(int32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inRuns_) return progress_.SetValue(value, NowMs());
    runDone_ = std::clamp(value, runDone_, runMaximum_);
    ShowWholeFile(NowMs());
}

void TerminalView::StepProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inRuns_) return progress_.Step(NowMs());
    runDone_ = std::min(runDone_ + 1, runMaximum_);
    ShowWholeFile(NowMs());
}

void TerminalView::SetProgressRange(int32_t maximum, int32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!options_.wholeFileFrames) {
        progress_.SetMaximum(maximum, NowMs());
        progress_.SetValue(value, NowMs());
        return;
    }
    // A new run: the previous one is done with; this one counts its acknowledged frames.
    if (inRuns_) runsBefore_ += runMaximum_;
    inRuns_ = true;
    runMaximum_ = std::max(maximum, 0);
    runDone_ = 0;
    ShowWholeFile(NowMs());
}

void TerminalView::SetProgressStage(ProgressStage stage) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stage == ProgressStage::Job) {
        progress_.SetSubject(
            options_.subject.value_or(ProgressDisplay::DefaultSubject(options_.unit)),
            options_.unit, NowMs());
        return;
    }
    // Each acknowledged frame of the patch program reports its index.
    progress_.SetSubject({"patch program", "frame", true, false}, "frames", NowMs());
}

void TerminalView::ShowWholeFile(uint64_t nowMs) {
    const int64_t known = *options_.wholeFileFrames;
    const int64_t total = std::max(known, runsBefore_ + runMaximum_);
    const auto clip = [](int64_t v) {
        return static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max()));
    };
    progress_.SetMaximum(clip(total), nowMs);
    progress_.SetValue(clip(runsBefore_ + runDone_), nowMs);
}

void TerminalView::SetProgressVisible(bool visible) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_.SetVisible(visible, NowMs());
}

void TerminalView::ShowMessage(const std::string& text, const std::string& caption,
                               MessageIcon icon) {
    // Job threads show their own messages; keep lines whole against the progress output.
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({text, caption, icon});
    if (options_.json) {
        *options_.out << JsonLine()
                             .Add("type", "message")
                             .Add("text", text)
                             .Add("caption", caption)
                             .Add("icon", IconName(icon))
                             .Str()
                      << std::endl;
        return;
    }
    progress_.Interrupt();
    std::ostream& to = icon == MessageIcon::Error ? *options_.err : *options_.out;
    to << (caption.empty() ? text : caption + ": " + text) << std::endl;
}

std::optional<std::string> TerminalView::AskOpenFile(const OpenFileRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRequests_.push_back(request);
    return options_.fileAnswer;
}

std::string TerminalView::SettingText(Setting setting) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = options_.settings.find(setting);
    if (it != options_.settings.end()) return it->second;
    switch (setting) {
        case Setting::textUpAddr:
            return "0";
        case Setting::textUpLen:
            return "786432";
        case Setting::textBoxPathUp:
        case Setting::textBoxPathKro:
            return "2622d";
    }
    return {};
}

bool TerminalView::OpenUrl(const std::string& url) {
    *options_.out << url << std::endl;
    return true;
}

void TerminalView::JobEnded(const JobResult& result) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobEnded_ = true;
    result_ = result;
    // An import that met the erased record before its area's end ends at the records read.
    if (result.job == JobKind::PointImport && result.Done()) {
        const auto read = static_cast<int32_t>(result.RecordsRead());
        progress_.Conclude(read, read, NowMs());
    }
}

std::optional<JobResult> TerminalView::Result() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
}

void TerminalView::RunPosted() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (calls_.empty()) return;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        call();
    }
}

void TerminalView::RunUntilJobEnd(const std::function<bool()>& jobAlive,
                                  const std::function<void()>& onWake) {
    // The end is posted right after the job thread clears its flag.
    constexpr auto kGrace = std::chrono::milliseconds(1000);
    std::optional<std::chrono::steady_clock::time_point> goneSince;
    for (;;) {
        if (onWake) onWake();
        RunPosted();
        const bool alive = jobAlive();
        std::unique_lock<std::mutex> lock(mutex_);
        if (jobEnded_ && calls_.empty()) return;
        if (!alive) {
            const auto now = std::chrono::steady_clock::now();
            if (!goneSince) goneSince = now;
            if (now - *goneSince >= kGrace) return;
        }
        // Wakes for each post; the slice bounds the look at the job's state.
        posted_.wait_for(lock, std::chrono::milliseconds(100),
                         [this] { return !calls_.empty() || jobEnded_; });
    }
}

void TerminalView::RunWhile(const std::function<bool()>& busy) {
    for (;;) {
        RunPosted();
        if (!busy()) break;
        std::unique_lock<std::mutex> lock(mutex_);
        // The outcome arrives as a posted call; the slice bounds the look at `busy`.
        posted_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !calls_.empty(); });
    }
    RunPosted();
}

std::vector<TerminalView::Message> TerminalView::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<OpenFileRequest> TerminalView::FileRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fileRequests_;
}

}  // namespace cli
